#include "app/BrowserCommand.h"

#include "app/TIniFile.h"
#include "platform/os.h"

namespace {

// The lookup a test put in place; set and read on the interface thread
// only (a launcher takes its copy there).
BrowserLookup* installedLookup = nullptr;

// The handler's name is one line; anything longer is not a name.
constexpr size_t kMaxHandlerOutput = 4096;

std::string environmentValue(const char* name) {
  const char* value = platform::os().environment(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

BrowserLookup systemLookup() {
  BrowserLookup lookup;
  std::string userData = environmentValue("XDG_DATA_HOME");
  if (userData.empty() && !environmentValue("HOME").empty())
    userData = environmentValue("HOME") + "/.local/share";
  if (!userData.empty()) lookup.applicationFolders.push_back(userData + "/applications");
  std::string systemData = environmentValue("XDG_DATA_DIRS");
  if (systemData.empty()) systemData = "/usr/local/share:/usr/share";
  for (const std::string& folder : splitAt(systemData, ':')) {
    if (!folder.empty()) lookup.applicationFolders.push_back(folder + "/applications");
  }
  lookup.browserVariable = environmentValue("BROWSER");
  return lookup;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Reads the word that starts at or after `pos`, leaving `pos` right after
// it (past its closing quote); false when only blanks remain.
bool nextWord(std::string_view text, size_t& pos, std::string& word) {
  while (pos < text.size() && isBlank(text[pos])) pos++;
  if (pos == text.size()) return false;
  word.clear();
  bool quoted = false;
  while (pos < text.size() && (quoted || !isBlank(text[pos]))) {
    const char c = text[pos++];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '\\' && pos < text.size()) {
      word += text[pos++];
    } else {
      word += c;
    }
  }
  return true;
}

// An Exec value as a command: the escapes of a desktop file's strings
// resolved (a doubled backslash stays one backslash for the quoting), the
// field codes that take the address made "%1", the others dropped.
std::string commandOfExec(std::string_view exec) {
  std::string command;
  for (size_t i = 0; i < exec.size(); i++) {
    const char c = exec[i];
    const char next = i + 1 < exec.size() ? exec[i + 1] : '\0';
    if (c == '\\' && (next == 's' || next == 'n' || next == 't' || next == 'r')) {
      command += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : '\r';
      i++;
    } else if (c == '\\' && next == '\\') {
      command += '\\';
      i++;
    } else if (c == '%' && next != '\0') {
      if (next == 'u' || next == 'U' || next == 'f' || next == 'F') command += "%1";
      if (next == '%') command += '%';
      i++;
    } else {
      command += c;
    }
  }
  return command;
}

// The Exec command of the desktop's handler for HTML pages; empty when
// there is none.
std::string handlerCommand(const BrowserLookup& lookup) {
  std::string output;
  int exitCode = 0;
  if (lookup.handlerQuery.empty() ||
      platform::os().runForOutput(lookup.handlerQuery, kMaxHandlerOutput, output, exitCode) != 0 ||
      exitCode != 0)
    return {};
  const std::string handler = output.substr(0, output.find('\n'));
  // A desktop file name, never a path that leaves the applications folder.
  const std::string suffix = ".desktop";
  if (handler.size() <= suffix.size() || handler.find('/') != std::string::npos ||
      handler.compare(handler.size() - suffix.size(), suffix.size(), suffix) != 0)
    return {};
  for (const std::string& folder : lookup.applicationFolders) {
    const std::string path = folder + "/" + handler;
    if (platform::os().pathStatus(path.c_str()) != 0) continue;
    const TIniFile entry(path);
    return commandOfExec(entry.ReadString("Desktop Entry", "Exec", ""));
  }
  return {};
}

// BROWSER holds commands parted by ':', each with "%s" for the address.
std::string variableCommand(const std::string& variable) {
  std::string command = splitAt(variable, ':').front();
  for (size_t at = command.find("%s"); at != std::string::npos; at = command.find("%s", at + 2))
    command.replace(at, 2, "%1");
  return command;
}

}  // namespace

BrowserLookup CurrentBrowserLookup() {
  return installedLookup != nullptr ? *installedLookup : systemLookup();
}

ScopedBrowserLookup::ScopedBrowserLookup(BrowserLookup lookup)
    : previous_(installedLookup), lookup_(std::move(lookup)) {
  installedLookup = &lookup_;
}

ScopedBrowserLookup::~ScopedBrowserLookup() { installedLookup = previous_; }

bool GetDefaultBrowserCommand(std::string& executable, std::string& arguments) {
  return GetDefaultBrowserCommand(CurrentBrowserLookup(), executable, arguments);
}

bool GetDefaultBrowserCommand(const BrowserLookup& lookup, std::string& executable,
                              std::string& arguments) {
  std::string command = handlerCommand(lookup);
  if (command.empty()) command = variableCommand(lookup.browserVariable);
  size_t pos = 0;
  std::string word;
  if (!nextWord(command, pos, word) || word.empty()) return false;
  while (pos < command.size() && isBlank(command[pos])) pos++;
  executable = word;
  arguments = command.substr(pos);
  return true;
}

std::vector<std::string> BuildBrowserArguments(std::string_view argumentTemplate,
                                               const std::string& url) {
  std::vector<std::string> words = SplitCommandWords(argumentTemplate);
  for (std::string& word : words) {
    const size_t at = word.find("%1");
    if (at == std::string::npos) continue;
    word.replace(at, 2, url);
    return words;
  }
  words.push_back(url);
  return words;
}

std::vector<std::string> SplitCommandWords(std::string_view text) {
  std::vector<std::string> words;
  size_t pos = 0;
  std::string word;
  while (nextWord(text, pos, word)) words.push_back(word);
  return words;
}
