#include "sdo/TransferJob.h"

#include <utility>

#include "util/Error.h"

namespace bp::sdo {

TransferJob::~TransferJob() {
  cancel();
  if (m_thread.joinable()) m_thread.join();
}

bool TransferJob::start(TransferOptions& options) {
  if (m_thread.joinable() || !m_client.tryClaim()) return false;
  m_cancel.store(false, std::memory_order_relaxed);
  m_finished.store(false, std::memory_order_relaxed);
  m_done.store(0, std::memory_order_relaxed);
  m_total.store(0, std::memory_order_relaxed);
  m_error.clear();
  m_failed = false;
  options.cancel = &m_cancel;
  return true;
}

bool TransferJob::startUpload(std::uint16_t index, std::uint8_t subIndex, TransferOptions options) {
  if (!start(options)) return false;
  m_bytes.clear();
  m_thread = std::thread([this, index, subIndex, o = std::move(options)]() mutable {
    run(index, subIndex, true, std::move(o));
  });
  return true;
}

bool TransferJob::startDownload(std::uint16_t index, std::uint8_t subIndex, std::string bytes,
                                TransferOptions options) {
  if (!start(options)) return false;
  m_bytes = std::move(bytes);
  m_thread = std::thread([this, index, subIndex, o = std::move(options)]() mutable {
    run(index, subIndex, false, std::move(o));
  });
  return true;
}

bool TransferJob::startTask(Task task, TransferOptions options, bool cancellable) {
  if (!start(options)) return false;
  if (!cancellable) options.cancel = nullptr;
  m_bytes.clear();
  m_thread = std::thread([this, t = std::move(task), o = std::move(options)]() mutable { runTask(t, std::move(o)); });
  return true;
}

// The worker thread: runs the task's transfers on the claim taken by start().
void TransferJob::runTask(const Task& task, TransferOptions options) {
  const Step step = [this](std::size_t done, std::size_t total) {
    m_done.store(done, std::memory_order_relaxed);
    m_total.store(total, std::memory_order_relaxed);
  };
  options.progress = {};
  SdoTransfer transfer(m_client, std::move(options));
  transfer.adoptClaim();
  transfer.holdClaim();
  try {
    m_bytes = task(transfer, step);
  } catch (const std::exception& e) {
    m_error = e.what();
    m_failed = true;
  }
  m_finished.store(true, std::memory_order_release);
}

// The worker thread: runs the transfer with the claim taken by start().
void TransferJob::run(std::uint16_t index, std::uint8_t subIndex, bool upload, TransferOptions options) {
  auto userProgress = std::move(options.progress);
  options.progress = [this, &userProgress](std::size_t done, std::size_t total) {
    m_done.store(done, std::memory_order_relaxed);
    m_total.store(total, std::memory_order_relaxed);
    if (userProgress) userProgress(done, total);
  };
  SdoTransfer transfer(m_client, std::move(options));
  transfer.adoptClaim();
  try {
    if (upload)
      m_bytes = transfer.upload(index, subIndex);
    else
      transfer.download(index, subIndex, std::exchange(m_bytes, {}));
  } catch (const std::exception& e) {
    m_error = e.what();
    m_failed = true;
  }
  m_finished.store(true, std::memory_order_release);
}

std::string TransferJob::take() {
  if (m_thread.joinable()) m_thread.join();
  if (m_failed) throw Error(m_error);
  std::string out = std::move(m_bytes);
  m_bytes.clear();
  return out;
}

}  // namespace bp::sdo
