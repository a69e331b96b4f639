#include "tests/support/reader_agreement.h"

#include "tests/support/disk_file.h"

namespace testing_support {

namespace {

// Reads the records in file order (deleted ones included, as their keys
// stay in unfiltered tags) and checks each tag's listing against them; for
// the catalogue, also the support of every file and the counts.
constexpr const char* kScript = R"PY(import dbfread, struct, subprocess, sys
def records_of(table):
    t = dbfread.DBF(table + '.dbf', encoding='cp1252')
    live, gone = list(t.records), list(t.deleted)
    with open(table + '.dbf', 'rb') as f:
        head = f.read(32)
        count, first, size = struct.unpack('<IHH', head[4:12])
        flags = []
        for n in range(count):
            f.seek(first + n * size)
            flags.append(f.read(1))
        f.seek(0, 2)
        length = f.tell()
        f.seek(first + count * size)
        end = f.read()
    if end != b'\x1a' or len(live) + len(gone) != count:
        raise SystemExit('%s: %d records counted, dbfread reads %d, the file ends %d bytes after them: %r'
                         % (table, count, len(live) + len(gone), length - first - count * size, end[:8]))
    live, gone = iter(live), iter(gone)
    return [(flag == b'*', next(gone) if flag == b'*' else next(live)) for flag in flags]
def tags_disagree(table, rows, tags):
    records = [r for _, r in rows]
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
    return problems
def catalogue_disagrees(folder):
    tables = {
        'DBFILES': ['T_F_ID', 'num', "r['F_ID']", 'T_F_SUPPID', 'num', "r['F_SUPPID']",
                    'T_SUP_PAT', 'char', "'%5d' % r['F_SUPPID'] + r['F_PATH'][:50].upper()",
                    'T_F_NAME', 'char', "r['F_NAME'][:60].upper()"],
        'DBSUPPORT': ['T_S_ID', 'num', "r['S_ID']"],
        'DBID': ['T_TBLNAME', 'char', "r['TBLNAME']"]}
    rows, problems = {}, []
    for table, tags in tables.items():
        rows[table] = records_of(folder + '/' + table)
        problems += [table + ' ' + p for p in tags_disagree(folder + '/' + table, rows[table], tags)]
    supports = {r['S_ID']: r for deleted, r in rows['DBSUPPORT'] if not deleted}
    held = {}
    for deleted, r in rows['DBFILES']:
        if deleted:
            continue
        if r['F_SUPPID'] not in supports:
            problems.append('file %d of support %d, which is not listed' % (r['F_ID'], r['F_SUPPID']))
        count, size = held.get(r['F_SUPPID'], (0, 0))
        held[r['F_SUPPID']] = (count + 1, size + r['F_SIZE'])
    for id, s in supports.items():
        count, size = held.get(id, (0, 0))
        if (s['S_FCOUNT'], s['S_SIZE']) != (count, size):
            problems.append('support %d says %d files of %d bytes, holds %d of %d' %
                            (id, s['S_FCOUNT'], s['S_SIZE'], count, size))
    return problems
if sys.argv[1] == '--catalogue':
    problems = catalogue_disagrees(sys.argv[2])
else:
    problems = tags_disagree(sys.argv[1], records_of(sys.argv[1]), sys.argv[2:])
print('\n'.join(problems))
)PY";

// The text as one shell word.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char ch : text) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return out + "'";
}

std::string run(const std::string& arguments) {
  int status = 0;
  std::string out = runCommand("/usr/bin/python3 -c " + quoted(kScript) + arguments, &status);
  if (status != 0) return "the readers failed: " + out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace

std::string readersDisagree(const std::string& table, const std::vector<TagAgreement>& tags) {
  std::string arguments = " " + quoted(table);
  for (const TagAgreement& t : tags)
    arguments += " " + quoted(t.tag) + " " + quoted(t.type) + " " + quoted(t.key);
  return run(arguments);
}

std::string catalogueDisagrees(const std::string& folder) {
  return run(" --catalogue " + quoted(folder));
}

}  // namespace testing_support
