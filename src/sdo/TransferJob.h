#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "sdo/SdoTransfer.h"

namespace bp::sdo {

// A file transfer (U, D) on a worker thread of its own, so the window thread keeps drawing and
// monitoring. The window starts it, polls done()/total()/finished() from a timer, may cancel(),
// and collects the result with take(). One job runs at a time: start fails while the client is
// busy (another job, or an SdoTransfer on the window thread).
class TransferJob {
 public:
  explicit TransferJob(SdoClient& client) noexcept : m_client(client) {}
  ~TransferJob();  // cancels a running transfer and joins its thread
  TransferJob(const TransferJob&) = delete;
  TransferJob& operator=(const TransferJob&) = delete;

  // Window thread. False (and nothing started) when the client is busy or a job is not yet taken.
  // options.cancel is replaced by the job's own flag; options.progress still runs (on the worker).
  bool startUpload(std::uint16_t index, std::uint8_t subIndex, TransferOptions options);
  bool startDownload(std::uint16_t index, std::uint8_t subIndex, std::string bytes, TransferOptions options);

  // A sequence of transfers: `task` runs on the worker with a transfer that holds the claim for
  // all of them (options.cancel set to the job's flag), reports its steps through `step(done,
  // total)` (done() and total() then count steps), and returns take()'s result; what it throws is
  // take()'s error.
  using Step = std::function<void(std::size_t done, std::size_t total)>;
  using Task = std::function<std::string(SdoTransfer& transfer, const Step& step)>;
  // Without `cancellable`, cancel() does not reach its transfers (a task that must finish what it
  // began, such as enabling a PDO again).
  bool startTask(Task task, TransferOptions options, bool cancellable = true);

  void cancel() noexcept { m_cancel.store(true, std::memory_order_release); }  // any thread
  bool cancelled() const noexcept { return m_cancel.load(std::memory_order_acquire); }  // any thread
  std::size_t done() const noexcept { return m_done.load(std::memory_order_relaxed); }
  std::size_t total() const noexcept { return m_total.load(std::memory_order_relaxed); }  // 0: unknown
  bool finished() const noexcept { return m_finished.load(std::memory_order_acquire); }

  // Window thread, once finished() (it waits otherwise): joins the worker; the uploaded bytes
  // (empty for a download), or throws the transfer's bp::Error.
  std::string take();

 private:
  bool start(TransferOptions& options);
  void run(std::uint16_t index, std::uint8_t subIndex, bool upload, TransferOptions options);
  void runTask(const Task& task, TransferOptions options);

  SdoClient& m_client;
  std::thread m_thread;
  std::string m_bytes;   // download: the window's bytes; upload: the result. See m_finished.
  std::string m_error;   // the failure's message; empty on success. See m_finished.
  bool m_failed = false;
  // The worker writes m_bytes, m_error and m_failed before it stores m_finished (release); the
  // window thread reads them only after finished() or join.
  std::atomic<bool> m_finished{false};      // writer: the worker
  std::atomic<std::size_t> m_done{0};       // writer: the worker
  std::atomic<std::size_t> m_total{0};      // writer: the worker
  std::atomic<bool> m_cancel{false};        // writer: the window thread (cancel, start)
};

}  // namespace bp::sdo
