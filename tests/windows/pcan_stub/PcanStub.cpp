// Test stand-in for the adapter's driver library: a loopback bus in the library itself.
// Exported by ordinal through a module-definition file (pcan_usb.def; pcan_usb_nowrite.def lacks
// the write ordinal). See PcanStub.h for what each call answers.
#include "PcanStub.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>

namespace {

using namespace bp::stub;

constexpr unsigned kRecordSize = 16;
constexpr unsigned kLengthOffset = 5;
constexpr WORD kCodes[] = {0x7F7F, 0x672F, 0x532F, 0x472F, 0x432F, 0x031C, 0x011C, 0x001C, 0x0014};

// Everything below is guarded by g_lock: the reader's thread reads while the test writes.
SRWLOCK g_lock = SRWLOCK_INIT;
bool g_open = false;
unsigned char g_queue[kStubQueueSize][kRecordSize];
unsigned g_head = 0;   // oldest record
unsigned g_count = 0;  // records queued
unsigned char g_lastWritten[kRecordSize];
bool g_written = false;
DWORD g_lastOpenCode = kStubNeverOpened;
DWORD g_openCalls = 0;

struct Locked {
  Locked() { AcquireSRWLockExclusive(&g_lock); }
  ~Locked() { ReleaseSRWLockExclusive(&g_lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

bool knownCode(WORD code) {
  for (WORD c : kCodes)
    if (c == code) return true;
  return false;
}

// Caller holds the lock.
DWORD enqueue(const unsigned char* record) {
  if (!g_open) return kStubNotOpen;
  if (record[kLengthOffset] > 8) return kStubIllegalParam;
  if (g_count == kStubQueueSize) return kStubQueueFull;
  std::memcpy(g_queue[(g_head + g_count) % kStubQueueSize], record, kRecordSize);
  ++g_count;
  return 0;
}

}  // namespace

extern "C" {

DWORD WINAPI StubClose() {
  Locked lock;
  g_open = false;
  g_head = 0;
  g_count = 0;
  return 0;
}

DWORD WINAPI StubOpen(WORD btr0btr1, int frameType) {
  Locked lock;
  ++g_openCalls;
  g_lastOpenCode = btr0btr1;
  if (!knownCode(btr0btr1) || frameType != 0) return kStubIllegalParam;
  g_open = true;
  return 0;
}

DWORD WINAPI StubRead(unsigned char* record) {
  Locked lock;
  if (!g_open) return kStubNotOpen;
  if (g_count == 0) return kStubQueueEmpty;
  std::memcpy(record, g_queue[g_head], kRecordSize);
  g_head = (g_head + 1) % kStubQueueSize;
  --g_count;
  return 0;
}

DWORD WINAPI StubVersion(char* buffer) {
  std::strncpy(buffer, kStubVersionText, 255);
  buffer[255] = '\0';
  return 0;
}

DWORD WINAPI StubWrite(const unsigned char* record) {
  Locked lock;
  const DWORD result = enqueue(record);
  if (result == 0) {
    std::memcpy(g_lastWritten, record, kRecordSize);
    g_written = true;
  }
  return result;
}

DWORD WINAPI StubInjectFrame(const unsigned char* record) {
  Locked lock;
  return enqueue(record);
}

DWORD WINAPI StubLastOpenCode() {
  Locked lock;
  return g_lastOpenCode;
}

DWORD WINAPI StubLastWritten(unsigned char* out) {
  Locked lock;
  if (!g_written) return kStubQueueEmpty;
  std::memcpy(out, g_lastWritten, kRecordSize);
  return 0;
}

DWORD WINAPI StubOpenCalls() {
  Locked lock;
  return g_openCalls;
}

}  // extern "C"
