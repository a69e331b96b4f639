// TIdTableHandler: the common part of DBFILES and DBSUPPORT, whose records
// carry an id drawn from the DBID counters (Dbidhandler.h): the append
// sequence and the check that the table's counter is not behind the ids
// the table already holds.
//
// The TIDHandler is published by the owner of the three handlers (it may
// come after construction) and must stay alive while this handler uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "catalog/Dbdatahandler.h"

class TIDHandler;
struct TAG4;

class TIdTableHandler : public TDBDataHandler {
 public:
  void SetIdHandler(TIDHandler* ids);
  TIDHandler* IdHandler() const { return ids_; }

  bool Close() override;
  // Marks the current record deleted; true when it is.
  bool DeleteCurrent();
  // A new id for a record about to be appended with it (the check that the
  // counter is not behind the table's ids made first): the id, or -3 when
  // none can be drawn for certain.
  int32_t DrawId();

 protected:
  // `idField` is the position of the id among the declared fields and
  // `idTagName` the declared name of the id's tag.
  TIdTableHandler(CODE4& code, std::string path, std::string tableName, TIDHandler* ids,
                  size_t idField, const char* idTagName);

  // To run after the base Open succeeded: binds the declared fields, finds
  // the id tag, raises the table's counter to the largest id present (when
  // the TIDHandler is known) and goes to the first record in record order.
  // True when the fields and the tag are all there.
  bool FinishOpen(std::span<const TDBFieldDef> fields);

  // The append sequence, in two halves around the caller's field
  // assignments. BeginAppend readies the record: 0, -1 when the append
  // cannot start (no table, or the engine refused), -3 when `id` is
  // negative and no id can be drawn for certain; a drawn id is written back
  // to `id` and into the record, which is blank otherwise. EndAppend
  // appends it: 0, or -2. Nothing is flushed: the engine writes the record
  // and its keys as it appends.
  int32_t BeginAppend(int32_t& id);
  int32_t EndAppend();
  // Puts the current record back as stored, or abandons a record begun by
  // BeginAppend: nothing assigned since is written. True when the stored
  // record could be read back.
  bool DiscardChanges();

  TAG4* IdTag() const { return idTag_; }

 private:
  // Raises the counter once per open; later calls answer the first result
  // when it was a success. The handle is left wherever the check took it.
  bool checkCounter();

  TIDHandler* ids_;
  const size_t idField_;
  const char* const idTagName_;
  TAG4* idTag_ = nullptr;        // of the open handle
  bool counterChecked_ = false;  // since the table was opened
};
