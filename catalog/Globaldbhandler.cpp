#include "catalog/Globaldbhandler.h"

#include "catalog/Datafolderlock.h"
#include "catalog/Engine.h"
#include "engine/storage/code4.h"

namespace {

// The block cache's memory, whatever the catalogue's size: enough for the
// index nodes that insertions into a large catalogue keep touching.
constexpr int32_t kTableCacheBytes = 32 << 20;

}  // namespace

// Large files stay off. A table of any length opens without them
// (file4io.cpp), and off the engine keeps the lock bytes other dBase tools
// use, their record length limit, its checks of a header against the file,
// and the settling of an end that a death left torn.
TGlobalDBHandler::TGlobalDBHandler(CODE4& code, const std::string& dataFolder) {
  ids_ = std::make_unique<TIDHandler>(code, dataFolder);
  // The tables are the process's alone: the cache may hold their writes.
  ids_->SetEngineAccessMode(1);
  ids_->StartEngineCache(kTableCacheBytes);
  files_ = std::make_unique<TFileDataHandler>(code, dataFolder, ids_.get());
  supports_ = std::make_unique<TSupportDataHandler>(code, dataFolder, ids_.get());
}

TGlobalDBHandler::~TGlobalDBHandler() {
  supports_.reset();
  files_.reset();
  ids_.reset();
  DoneEngine();
}

TCatalogueOpening TGlobalDBHandler::OpenAll(bool readOnly) {
  ids_->Code().readOnly = readOnly ? 1 : 0;
  for (TDBDataHandler* table :
       {static_cast<TDBDataHandler*>(ids_.get()), static_cast<TDBDataHandler*>(files_.get()),
        static_cast<TDBDataHandler*>(supports_.get())})
    table->SetReadOnly(readOnly);
  // One lock for the three: a second process starting at the same time
  // finds them all made, rather than some made by each, and a process that
  // holds the catalogue has all three open by the time it lets the lock go.
  // A table held elsewhere is found before any is opened: the engine would
  // report its refused open as an error of the catalogue.
  const TDataFolderLock lock(ids_->Path());
  if (ids_->HeldElsewhere() || files_->HeldElsewhere() || supports_->HeldElsewhere())
    return TCatalogueOpening::kHeldElsewhere;
  const bool ids = ids_->Open();
  const bool files = files_->Open();
  const bool supports = supports_->Open();
  return ids && files && supports ? TCatalogueOpening::kOpened : TCatalogueOpening::kIncomplete;
}

bool TGlobalDBHandler::CloseAll() {
  const bool ids = ids_->Close();
  const bool files = files_->Close();
  const bool supports = supports_->Close();
  return ids && files && supports;
}
