// The desktop's web browser, as a command: an executable and an argument
// template in which "%1" stands for the address to open.
//
// The browser is the desktop's handler for HTML pages: the desktop file
// that `xdg-mime query default text/html` names, found in the user's and
// then the system's applications folders, whose Exec line gives the
// command (its field codes %u, %U, %f and %F play the part of "%1"; the
// others are dropped). Without one, the BROWSER variable's first command
// ("%s" standing for "%1"). Commands are quoted as Exec lines are: blanks
// part words, double quotes group them, a backslash takes the next
// character as it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct BrowserLookup {
  // The program asked for the handler of HTML pages, with its arguments;
  // it prints the handler's desktop file name.
  std::vector<std::string> handlerQuery{"xdg-mime", "query", "default", "text/html"};
  // The folders searched, in order, for that desktop file.
  std::vector<std::string> applicationFolders;
  // The BROWSER variable's value.
  std::string browserVariable;
  // The program that opens an address with the desktop's own handler.
  std::string opener = "xdg-open";
};

// The lookup in force: the system's, read from the environment at each
// call, or the one a test put in place.
BrowserLookup CurrentBrowserLookup();

// Puts `lookup` in place of the system's for the guard's lifetime. Tests
// only; guards nest.
class ScopedBrowserLookup {
 public:
  explicit ScopedBrowserLookup(BrowserLookup lookup);
  ~ScopedBrowserLookup();
  ScopedBrowserLookup(const ScopedBrowserLookup&) = delete;
  ScopedBrowserLookup& operator=(const ScopedBrowserLookup&) = delete;

 private:
  BrowserLookup* previous_;
  BrowserLookup lookup_;
};

// The browser's executable (its first word, unquoted) and its argument
// template (the text after that word, blanks before it skipped; empty when
// nothing follows). False when no browser command was found.
bool GetDefaultBrowserCommand(std::string& executable, std::string& arguments);
bool GetDefaultBrowserCommand(const BrowserLookup& lookup, std::string& executable,
                              std::string& arguments);

// The arguments that open `url`: the template's words, the first "%1"
// replaced by the URL; a template without "%1" gets the URL as a last
// argument. The URL is never split or unquoted, whatever it holds.
std::vector<std::string> BuildBrowserArguments(std::string_view argumentTemplate,
                                               const std::string& url);

// The words of a command's text.
std::vector<std::string> SplitCommandWords(std::string_view text);
