// The block of one background worker (write-behind or read-ahead) and its
// start and stop handshake with the settings object.
//
// A worker is started at initialisation and must report running within
// five seconds; one that does not is abandoned (it sees that on its first
// step and ends) and is never used, callers then doing its work themselves.
// Every started thread is joined when the settings object is undone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "engine/storage/event4.h"
#include "engine/storage/list4.h"

struct CODE4;
struct MEMORY4;

struct Worker4 {
  // Start handshake: the worker moves Starting to Running, the owner moves
  // Starting to Abandoned when the wait runs out. Whoever moves first wins.
  enum State : int32_t { Starting = 0, Running = 1, Abandoned = 2, Stopped = 3 };

  std::atomic<int32_t> state{Stopped};
  bool reader = false;                  // the read-ahead worker; else write-behind
  std::recursive_mutex section;         // guards queue and every request's state
  std::condition_variable_any progress;  // notified as each request is done
  std::atomic<uint64_t> finished{0};     // requests done by the worker so far
  LIST4 queue;                          // pending requests
  MEMORY4* requestPool = nullptr;       // request units; taken under the pool lock
  std::atomic<int32_t> stopCounter{0};  // raised by the owner to ask for a stop
  Event4 wake;                          // set when there is work or a stop request
  Event4 done;                          // set by the worker as it ends
  std::thread thread;                   // joinable from start until undo joins it

  // True when the worker runs and takes requests.
  bool running() const { return state.load(std::memory_order_acquire) == Running; }
};

// How long initialisation waits for a worker to report running.
inline constexpr int64_t worker4startTimeoutMs = 5000;

// Starts the worker's thread and waits for it to report; false when it did
// not start or report in time (the worker is then not used).
bool worker4start(CODE4* c, Worker4& worker);

// Asks a running worker to stop, waits until it has ended and joins every
// thread that was started, reported or not.
void worker4stop(Worker4& worker);
