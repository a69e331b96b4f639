// The support browser window on a support of 100,000 files (11,000 tree
// nodes, beside another support of as many), as the main window opens it:
// made, loaded, captioned and shown, then the top folder (100 folders)
// clicked and every node expanded. cold_ms is the first opening after the
// catalogue was opened with its files dropped from the page cache; the
// timings are warm runs.
#include <QAction>
#include <QTreeWidget>
#include <chrono>

#include "app/DBWrapperGlobal.h"
#include "bench/form_bench_main.h"
#include "bench/generated_catalogue.h"
#include "features/browser/TfrmSupportDisplay.h"

namespace {

bench_support::GeneratedCatalogue& catalogue() { return bench_support::TwoLargeSupports(); }

constexpr int32_t kSupport = 2;

size_t openBrowser() {
  TfrmSupportDisplay form;
  form.LoadSupport(kSupport);
  form.ApplyLanguage();
  form.show();
  auto* tree = form.findChild<QTreeWidget*>("tview");
  QTreeWidgetItem* root = tree->topLevelItem(0);
  emit tree->itemClicked(root, 0);
  tree->setCurrentItem(root);
  form.findChild<QAction*>("itmExpandNode")->trigger();
  QApplication::processEvents();
  return static_cast<size_t>(form.findChild<QTreeWidget*>("lView")->topLevelItemCount());
}

void BM_OpenBrowserWindow(benchmark::State& state) {
  dbWrapper = &catalogue().open(true);
  const auto started = std::chrono::steady_clock::now();
  size_t listed = openBrowser();
  state.counters["cold_ms"] =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  for (auto _ : state) listed = openBrowser();
  state.counters["listed"] = static_cast<double>(listed);
  dbWrapper = nullptr;
  catalogue().close();
}
BENCHMARK(BM_OpenBrowserWindow)->Unit(benchmark::kMillisecond);

}  // namespace

FORM_BENCHMARK_MAIN()
