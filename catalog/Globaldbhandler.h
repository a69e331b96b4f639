// TGlobalDBHandler: the three catalogue tables on one data folder, opened
// and closed together, with the engine ended when it goes.
#pragma once

#include <memory>
#include <string>

#include "catalog/Dbfiledatahandler.h"
#include "catalog/Dbidhandler.h"
#include "catalog/Dbsupportdatahandler.h"

struct CODE4;

// What an opening of the catalogue came to.
enum class TCatalogueOpening {
  kOpened,
  // Another process has the catalogue open: no table was opened, and
  // nothing was reported through the error hook.
  kHeldElsewhere,
  // A table could not be opened or made; the engine reported why.
  kIncomplete,
};

class TGlobalDBHandler {
 public:
  // Every table of this process is opened exclusively. The file and support
  // handlers draw their ids from the id handler.
  TGlobalDBHandler(CODE4& code, const std::string& dataFolder);
  // Deletes the handlers (CloseAll must come first), then ends the engine.
  ~TGlobalDBHandler();
  TGlobalDBHandler(const TGlobalDBHandler&) = delete;
  TGlobalDBHandler& operator=(const TGlobalDBHandler&) = delete;

  // Opens (or creates) DBID, DBFILES and DBSUPPORT, in that order, under
  // the data folder's lock; none of them when another process holds any.
  // `readOnly`: the catalogue cannot be written, and is only read
  // (TDBDataHandler::SetReadOnly); nothing is made or written.
  TCatalogueOpening OpenAll(bool readOnly);
  // Closes them in the same order: true when each closed cleanly (all it
  // held is written).
  bool CloseAll();

  TIDHandler& Ids() { return *ids_; }
  TFileDataHandler& Files() { return *files_; }
  TSupportDataHandler& Supports() { return *supports_; }

 private:
  std::unique_ptr<TIDHandler> ids_;
  std::unique_ptr<TFileDataHandler> files_;
  std::unique_ptr<TSupportDataHandler> supports_;
};
