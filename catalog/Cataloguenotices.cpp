#include "catalog/Cataloguenotices.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<TChangeRefusalPresenter> presenter{nullptr};

}  // namespace

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
