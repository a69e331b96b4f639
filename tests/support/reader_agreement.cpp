#include "tests/support/reader_agreement.h"

#include "tests/support/disk_file.h"

namespace testing_support {

namespace {

// Reads the records in file order (deleted ones included, as their keys
// stay in unfiltered tags) and checks each tag's listing against them.
constexpr const char* kScript = R"(import dbfread, struct, subprocess, sys
table, tags = sys.argv[1], sys.argv[2:]
t = dbfread.DBF(table + '.dbf', encoding='cp1252')
live, gone = iter(list(t.records)), iter(list(t.deleted))
with open(table + '.dbf', 'rb') as f:
    head = f.read(32)
    count, first, size = struct.unpack('<IHH', head[4:12])
    flags = []
    for n in range(count):
        f.seek(first + n * size)
        flags.append(f.read(1))
records = [next(gone) if flag == b'*' else next(live) for flag in flags]
problems = []
for name, kind, expr in zip(tags[0::3], tags[1::3], tags[2::3]):
    out = subprocess.run(['/usr/bin/index_dump', '--type', kind, table + '.cdx', name],
                         capture_output=True, encoding='latin-1')
    if out.returncode != 0 or out.stderr:
        problems.append('%s: index_dump failed: %s' % (name, out.stderr.strip()))
        continue
    seen = {}
    for line in out.stdout.splitlines():
        key, _, number = line.rpartition(' ')
        n = int(number)
        if not 1 <= n <= len(records):
            problems.append('%s: key %r names record %d of %d' % (name, key, n, len(records)))
            continue
        want = eval(expr, {'r': records[n - 1]})
        same = float(key) == float(want) if kind == 'num' else key.rstrip() == str(want).rstrip()
        if not same:
            problems.append('%s: key %r of record %d, whose value makes %r' % (name, key, n, want))
        seen[n] = seen.get(n, 0) + 1
    for n in range(1, len(records) + 1):
        if seen.get(n, 0) != 1:
            problems.append('%s: record %d has %d keys' % (name, n, seen.get(n, 0)))
print('\n'.join(problems))
)";

// The text as one shell word.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char ch : text) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return out + "'";
}

}  // namespace

std::string readersDisagree(const std::string& table, const std::vector<TagAgreement>& tags) {
  std::string command = "/usr/bin/python3 -c " + quoted(kScript) + " " + quoted(table);
  for (const TagAgreement& t : tags)
    command += " " + quoted(t.tag) + " " + quoted(t.type) + " " + quoted(t.key);
  int status = 0;
  std::string out = runCommand(command, &status);
  if (status != 0) return "the readers failed: " + out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace testing_support
