// TIniFile: the settings file, read and written the way the Windows
// services read and write ini files, so that a file made there keeps every
// byte that is not changed.
//
// Format: lines ended by CR LF or LF. A line whose first non-blank
// character is '[' opens the section named up to the next ']'; a line with
// an '=' inside a section is a key (the text before the first '=') with a
// value (the text after it); both are trimmed of blanks and tabs. Sections
// and keys match without regard to ASCII letter case; the first of equal
// names counts. Values are Windows-1252 bytes taken as they stand: no
// escapes, no quoting, no splitting at commas. Every other line (comments,
// blank lines, text outside sections) is kept as it is.
//
// The file is read once, when the object is made; writes change the copy in
// memory and reach the disk through UpdateFile, which the destructor calls.
// The file is never seen half written, nor lost to a write the disk
// refuses: the new text is written whole under a work name in the same
// folder and synced, renamed over the old file, and the folder synced; a
// failure before the rename removes the work file and leaves the old one.
// A file that exists but cannot be read (no permission, damaged medium,
// larger than kMaxBytes) answers every read with its default and is never
// overwritten.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TIniFile {
 public:
  // Larger settings files are not read: no program writes them.
  static constexpr uint64_t kMaxBytes = 4 << 20;

  explicit TIniFile(std::string fileName);
  // Writes what changed (UpdateFile); a failure leaves the old file.
  ~TIniFile();
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  const std::string& FileName() const { return fileName_; }

  // The value of `key` in `section`, or `fallback` when there is none.
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& fallback) const;
  // The value as a decimal integer (blanks around it and a sign allowed);
  // `fallback` when the key is missing, the value is not a whole decimal
  // number or lies outside 32 bits.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;

  // Sets the value, adding the key after the section's last key, or the
  // section at the end of the file, when missing. A value is one line: it
  // is cut at its first CR or LF. Names holding a line break, a section
  // name holding ']' and a key holding '=' are not written.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // The value in decimal.
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);

  // Writes the changes since the file was read or last written; true when
  // there were none or they were written and synced.
  bool UpdateFile();
  // Why the last UpdateFile wrote nothing: an errno value (the read's
  // when the file could not be read, EFBIG when it is too large); 0 after
  // one that succeeded or before any.
  int WriteError() const { return writeError_; }

 private:
  struct Line {
    std::string text;  // without its line end
    std::string end;   // "\r\n", "\n", "\r" or "" (the last line)
  };
  // Where a section's lines lie: [header, end).
  struct SectionRange {
    size_t header;
    size_t end;
  };

  void parse(std::string_view content);
  bool findSection(std::string_view section, SectionRange& range) const;
  // The index of the key's line within the range, or npos.
  size_t findKey(const SectionRange& range, std::string_view key) const;
  void insertLine(size_t at, std::string text);
  std::string newline() const;

  std::string fileName_;
  std::vector<Line> lines_;
  bool readable_ = true;
  int readError_ = 0;  // why the file could not be read, when it cannot
  int writeError_ = 0;
  bool changed_ = false;
};
