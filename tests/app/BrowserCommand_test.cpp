#include "app/BrowserCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/support/fake_programs.h"

namespace {

void writeDesktopFile(const std::string& path, const std::string& exec) {
  std::ofstream(path) << "[Desktop Entry]\nName=Web\nExec[fr]=wrong %u\nExec=" << exec
                      << "\n[Desktop Action new]\nExec=wrong too\n";
}

TEST(BrowserCommand, TheDesktopsHandlerThenBrowserGiveTheExecutableAndTheTemplate) {
  mkdir("user", 0755);
  mkdir("system", 0755);
  writeDesktopFile("outside.desktop", "outside %u");
  struct Case {
    const char* handler;   // what the desktop's query prints
    const char* userExec;  // of user/web.desktop; null for none
    const char* systemExec;
    const char* browserVariable;
    const char* executable;  // null: no browser found
    const char* arguments;
  } cases[] = {
      {"web.desktop", nullptr, "\"/opt/My Browser/browser\" \"%u\"", "", "/opt/My Browser/browser",
       "\"%1\""},
      {"web.desktop", nullptr, "browser --new %U --class=%c %i %%", "", "browser",
       "--new %1 --class=  %"},
      {"web.desktop", nullptr, "/usr/bin/lynx", "", "/usr/bin/lynx", ""},
      // The file's escapes first, then the quoting: "\\\\" is one backslash.
      {"web.desktop", nullptr, "\"/opt/a\\\\\\\\b\" \\s%f", "", "/opt/a\\b", "%1"},
      {"web.desktop", "mine %u", "system %u", "", "mine", "%1"},
      {"none.desktop", nullptr, "system %u", "lynx -dump %s:w3m", "lynx", "-dump %1"},
      // A name that would leave the applications folders is no name.
      {"../outside.desktop", nullptr, "system %u", "w3m", "w3m", ""},
      {"", nullptr, "system %u", "", nullptr, ""},
  };
  for (const Case& c : cases) {
    BrowserLookup lookup{{WriteFakeProgram("query", std::string("echo '") + c.handler + "'")},
                         {"user", "system"},
                         c.browserVariable,
                         "xdg-open"};
    writeDesktopFile("system/web.desktop", c.systemExec);
    remove("user/web.desktop");
    if (c.userExec != nullptr) writeDesktopFile("user/web.desktop", c.userExec);
    std::string executable, arguments;
    EXPECT_EQ(GetDefaultBrowserCommand(lookup, executable, arguments), c.executable != nullptr)
        << c.systemExec;
    if (c.executable == nullptr) continue;
    EXPECT_EQ(executable, c.executable) << c.systemExec;
    EXPECT_EQ(arguments, c.arguments) << c.systemExec;
  }
}

TEST(BrowserCommand, TheAddressIsOneArgumentWhateverItHolds) {
  const std::string hostile = "http://x/a b\"c;$(touch pwned)";
  struct Case {
    const char* argumentTemplate;
    std::string url;
    std::vector<std::string> arguments;
  } cases[] = {
      {"\"%1\"", "http://kavri.example/", {"http://kavri.example/"}},
      {"--new-tab", "http://k/", {"--new-tab", "http://k/"}},
      {"", "http://k/", {"http://k/"}},
      {"--url=%1 %1", "http://k/", {"--url=http://k/", "%1"}},
      {"-a \"two words\" %1", hostile, {"-a", "two words", hostile}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BuildBrowserArguments(c.argumentTemplate, c.url), c.arguments) << c.argumentTemplate;
}

}  // namespace
