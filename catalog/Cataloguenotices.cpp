#include "catalog/Cataloguenotices.h"

#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <utility>

namespace {

std::atomic<TChangeRefusalPresenter> presenter{nullptr};
std::atomic<bool> writeRefusedTold{false};
std::atomic<bool> writeRefusalsSilenced{false};
// The reads refused and told, by file and errno. The catalogue's thread
// only.
std::set<std::pair<std::string, int>> readRefusalsTold;

}  // namespace

bool RepairMade(TStartRepair::Kind kind) {
  using Kind = TStartRepair::Kind;
  switch (kind) {
    case Kind::kEmptyingIncomplete:
    case Kind::kRepairUnwritten:
    case Kind::kRepairWaits:
    case Kind::kRepairReadOnly:
    case Kind::kNoteUnreadable:
    case Kind::kNoteUnwritable:
    case Kind::kIndexWaits:
    case Kind::kIndexInMemory:
      return false;
    default:
      return true;
  }
}

TChangeRefusalPresenter SetChangeRefusalPresenter(TChangeRefusalPresenter replacement) {
  return presenter.exchange(replacement);
}

void PresentChangeRefusal(const TChangeRefusal& refusal) {
  if (TChangeRefusalPresenter show = presenter.load()) {
    show(refusal);
    return;
  }
  std::fprintf(stderr, "change refused (%d): %s, errno %d\n", static_cast<int>(refusal.why),
               refusal.file.c_str(), refusal.error);
}

void PresentWriteRefused(const std::string& file, int error) {
  if (writeRefusalsSilenced || writeRefusedTold.exchange(true)) return;
  PresentChangeRefusal(
      TChangeRefusal{TChangeRefusal::Why::kWriteRefused, file, error, TDiskCall::kWrite});
}

void PresentReadRefused(const std::string& file, int error) {
  if (!readRefusalsTold.insert({file, error}).second) return;
  PresentChangeRefusal(
      TChangeRefusal{TChangeRefusal::Why::kReadRefused, file, error, TDiskCall::kRead});
}

void WritesSucceeded() { writeRefusedTold = false; }

void DiskRefusalsForgotten() {
  writeRefusedTold = false;
  readRefusalsTold.clear();
}

void SilenceWriteRefusals(bool silenced) { writeRefusalsSilenced = silenced; }
