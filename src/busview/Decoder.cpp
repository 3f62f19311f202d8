// Frame classification (cheap, per frame, on arrival) and the per-node state it needs: guarding
// requests waiting for an answer and the phase of SDO block transfers.
#include "busview/Decoder.h"

#include <chrono>
#include <cstdio>

#include "busview/EmcyCodes.h"
#include "canopen/Identifiers.h"
#include "od/ValueText.h"
#include "sdo/AbortMessages.h"
#include "sdo/SdoProtocol.h"
#include "util/LittleEndian.h"

namespace bp::busview {
namespace proto = sdo::proto;

namespace {

// CANopen identifiers of services the rest of the tool does not use (CiA 301 TIME, CiA 305 LSS).
using canopen::kLssMasterId;
using canopen::kLssSlaveId;
using canopen::kTimeId;
constexpr std::uint32_t kFunctionMask = 0x780;
constexpr std::uint32_t kNodeMask = 0x07F;
constexpr std::uint8_t kGuardToggleBit = 0x80;

SdoCommand requestCommand(std::uint8_t c) noexcept {
  switch (proto::commandSpecifier(c)) {
    case proto::kCcsDownloadSegment: return SdoCommand::DownloadSegment;
    case proto::kCcsDownloadInitiate: return SdoCommand::DownloadInitiate;
    case proto::kCcsUploadInitiate: return SdoCommand::UploadInitiate;
    case proto::kCcsUploadSegment: return SdoCommand::UploadSegment;
    case proto::kCsAbort: return SdoCommand::Abort;
    case proto::kCcsBlockUpload:
      switch (c & proto::kBlockSubcommandMask) {
        case proto::kBlockInitiate: return SdoCommand::BlockUploadInitiate;
        case proto::kBlockUploadEnd: return SdoCommand::BlockUploadEnd;
        case proto::kBlockUploadAck: return SdoCommand::BlockUploadAck;
        default: return SdoCommand::BlockUploadStart;
      }
    case proto::kCcsBlockDownload:
      return (c & proto::kBlockDownloadEnd) != 0 ? SdoCommand::BlockDownloadEnd
                                                 : SdoCommand::BlockDownloadInitiate;
    default: return SdoCommand::Invalid;
  }
}

SdoCommand answerCommand(std::uint8_t c) noexcept {
  switch (proto::commandSpecifier(c)) {
    case proto::kScsUploadSegment: return SdoCommand::UploadSegment;
    case proto::kScsDownloadSegment: return SdoCommand::DownloadSegment;
    case proto::kScsUploadInitiate: return SdoCommand::UploadInitiate;
    case proto::kScsDownloadInitiate: return SdoCommand::DownloadInitiate;
    case proto::kCsAbort: return SdoCommand::Abort;
    case proto::kScsBlockDownload:
      switch (c & proto::kBlockSubcommandMask) {
        case proto::kBlockInitiate: return SdoCommand::BlockDownloadInitiate;
        case proto::kBlockDownloadEnd: return SdoCommand::BlockDownloadEnd;
        case proto::kBlockDownloadAck: return SdoCommand::BlockDownloadAck;
        default: return SdoCommand::Invalid;
      }
    case proto::kScsBlockUpload:
      return (c & proto::kBlockUploadEnd) != 0 ? SdoCommand::BlockUploadEnd
                                               : SdoCommand::BlockUploadInitiate;
    default: return SdoCommand::Invalid;
  }
}

// The service of a PDO identifier and its number, or Unknown.
Decoded pdoOf(std::uint32_t base) noexcept {
  Decoded d;
  for (std::size_t i = 0; i < canopen::kTpdoBase.size(); ++i) {
    if (base == canopen::kTpdoBase[i]) d.service = Service::Tpdo;
    else if (base == canopen::kRpdoBase[i]) d.service = Service::Rpdo;
    else continue;
    d.pdoNumber = static_cast<std::uint8_t>(i + 1);
    break;
  }
  return d;
}

}  // namespace

Decoded Decoder::decode(const can::CanFrame& f) noexcept {
  Decoded d;
  const bool remote = f.type == can::kMsgRemote;
  if ((f.type != can::kMsgData && !remote) || f.id > 0x7FF) return d;
  const std::uint32_t id = f.id;
  if (!remote) {
    if (id == canopen::kNmtId) d.service = Service::Nmt;
    else if (id == canopen::kSyncId) d.service = Service::Sync;
    else if (id == kTimeId) d.service = Service::Time;
    else if (id == kLssMasterId) d.service = Service::LssRequest;
    else if (id == kLssSlaveId) d.service = Service::LssAnswer;
    if (d.service == Service::Nmt && f.len >= 2) d.node = f.data[1] & kNodeMask;
    if (d.service != Service::Unknown) return d;
  }
  const auto node = static_cast<std::uint8_t>(id & kNodeMask);
  if (node == 0) return d;
  const std::uint32_t base = id & kFunctionMask;
  if (base == canopen::kErrorControlBase) {
    d.node = node;
    return decodeErrorControl(d, f);
  }
  if (base == canopen::kSdoRequestBase || base == canopen::kSdoResponseBase) {
    if (remote) return d;
    d.service = base == canopen::kSdoRequestBase ? Service::SdoRequest : Service::SdoAnswer;
    d.node = node;
    return decodeSdo(d, f);
  }
  if (base == canopen::kEmcyBase) {
    if (!remote) d = {Service::Emcy, node, 0, SdoCommand::None};
    return d;
  }
  d = pdoOf(base);
  if (d.service != Service::Unknown) d.node = node;
  return d;
}

Decoded Decoder::decodeErrorControl(Decoded d, const can::CanFrame& f) noexcept {
  NodeState& st = m_nodes[d.node];
  if (f.type == can::kMsgRemote) {
    d.service = Service::GuardRequest;
    st.guardPending = true;
    return d;
  }
  const std::uint8_t state = f.len > 0 ? f.data[0] : 0xFF;
  if (f.len > 0 && state == 0) {
    d.service = Service::BootUp;  // a node that restarts answers no guarding request
  } else if (st.guardPending || (state != 0xFF && (state & kGuardToggleBit) != 0)) {
    d.service = Service::GuardAnswer;
    st.guardPending = false;
  } else {
    d.service = Service::Heartbeat;
  }
  return d;
}

Decoded Decoder::decodeSdo(Decoded d, const can::CanFrame& f) noexcept {
  NodeState& st = m_nodes[d.node];
  const bool request = d.service == Service::SdoRequest;
  const std::uint8_t c = f.data[proto::kCommandByte];
  const bool last = (c & proto::kBlockLastSegmentBit) != 0;
  // Sequence numbers start at 1, so a byte 0x80 is always an abort, never a last segment 0.
  if (c != proto::kCsAbort) {
    if (request && st.block == Block::DownloadSegments) {
      d.sdo = SdoCommand::BlockDownloadSegment;
      st.lastSeqno = c & proto::kBlockSeqnoMask;
      if (last) st.block = Block::DownloadEnd;
      return d;
    }
    if (!request && st.block == Block::UploadSegments) {
      d.sdo = SdoCommand::BlockUploadSegment;
      st.lastSeqno = c & proto::kBlockSeqnoMask;
      if (last) st.block = Block::UploadEnd;
      return d;
    }
  }
  d.sdo = request ? requestCommand(c) : answerCommand(c);
  const std::uint8_t ackSeqno = f.data[proto::kBlockAckSeqByte];
  switch (d.sdo) {
    case SdoCommand::BlockDownloadInitiate:
      st.block = request ? Block::Idle : Block::DownloadSegments;
      break;
    case SdoCommand::BlockUploadInitiate: st.block = Block::UploadStarting; break;
    case SdoCommand::BlockUploadStart: st.block = Block::UploadSegments; break;
    // An acknowledge short of the last segment asks for the rest again.
    case SdoCommand::BlockDownloadAck:
      if (st.block == Block::DownloadEnd && ackSeqno != st.lastSeqno) st.block = Block::DownloadSegments;
      break;
    case SdoCommand::BlockUploadAck:
      if (st.block == Block::UploadEnd && ackSeqno != st.lastSeqno) st.block = Block::UploadSegments;
      break;
    default: st.block = Block::Idle; break;  // ends, aborts and the other transfers
  }
  return d;
}

std::string_view serviceName(Service s) noexcept {
  switch (s) {
    case Service::Nmt: return "NMT";
    case Service::Sync: return "SYNC";
    case Service::Time: return "TIME";
    case Service::Emcy: return "EMCY";
    case Service::Tpdo: return "TPDO";
    case Service::Rpdo: return "RPDO";
    case Service::SdoRequest: return "SDO request";
    case Service::SdoAnswer: return "SDO answer";
    case Service::BootUp: return "Boot-up";
    case Service::Heartbeat: return "Heartbeat";
    case Service::GuardRequest: return "Guarding request";
    case Service::GuardAnswer: return "Guarding answer";
    case Service::LssRequest: return "LSS request";
    case Service::LssAnswer: return "LSS answer";
    case Service::Unknown: break;
  }
  return "unknown";
}

std::string_view nmtStateName(std::uint8_t state) noexcept {
  switch (state) {
    case 0: return "Boot-up";
    case 4: return "Stopped";
    case 5: return "Operational";
    case 127: return "Pre-operational";
    default: return {};
  }
}

Emcy emcyOf(const can::CanFrame& f) noexcept {
  Emcy e;
  const std::uint8_t len = f.len > 8 ? 8 : f.len;
  if (len >= 2) e.code = static_cast<std::uint16_t>(f.data[0] | (f.data[1] << 8));
  if (len >= 3) e.errorRegister = f.data[2];
  for (std::uint8_t i = 3; i < len; ++i) e.manufacturer[i - 3] = f.data[i];
  e.manufacturerLength = len > 3 ? static_cast<std::uint8_t>(len - 3) : 0;
  return e;
}

// ---- texts, built only for the frames shown ----
namespace {

// Appends printf-formatted text (at most one short line).
template <typename... Args>
void add(std::string& s, const char* format, Args... args) {
  char buffer[128];
  const int n = std::snprintf(buffer, sizeof buffer, format, args...);
  if (n > 0) s.append(buffer, static_cast<std::size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

void addBytes(std::string& s, const std::uint8_t* p, std::size_t n) {
  s += od::hexPairsText(std::string_view(reinterpret_cast<const char*>(p), n), " ");
}

std::string_view nmtCommandName(std::uint8_t cs) noexcept {
  switch (cs) {
    case canopen::kNmtStart: return "Start";
    case canopen::kNmtStop: return "Stop";
    case canopen::kNmtPreOperational: return "Pre-operational";
    case canopen::kNmtResetNode: return "Reset application";
    case canopen::kNmtResetCommunication: return "Reset communication";
    default: return {};
  }
}

void nmtText(std::string& s, const can::CanFrame& f) {
  if (f.len < 2) return add(s, "NMT, length %d (2 expected)", f.len);
  const std::string_view name = nmtCommandName(f.data[0]);
  if (name.empty()) add(s, "NMT command 0x%02X", f.data[0]);
  else add(s, "NMT %.*s", static_cast<int>(name.size()), name.data());
  if (f.data[1] == 0) s += " all nodes";
  else add(s, " node %d", f.data[1]);
}

// CiA 301 TIME: milliseconds after midnight (28 bits) and days since 1 January 1984.
void timeText(std::string& s, const can::CanFrame& f) {
  if (f.len != 6) return add(s, "TIME, length %d (6 expected)", f.len);
  const std::uint32_t ms = loadLe32(&f.data[0]) & 0x0FFFFFFF;
  const unsigned days = loadLe16(&f.data[4]);
  constexpr std::uint32_t kDayMs = 86400000;
  if (ms >= kDayMs) return add(s, "TIME day %u, %u ms (more than a day)", days, ms);
  using namespace std::chrono;
  const year_month_day date{sys_days{year{1984} / 1 / 1} + std::chrono::days{days}};
  add(s, "TIME %04d-%02u-%02u %02u:%02u:%02u.%03u", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), ms / 3600000,
      ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

void emcyText(std::string& s, const Decoded& d, const can::CanFrame& f, bool drive) {
  add(s, "EMCY node %d", d.node);
  if (f.len < 2) return add(s, ", length %d", f.len);
  const Emcy e = emcyOf(f);
  const EmcyCodeText text = lookUpEmcyCode(e.code, drive);
  add(s, ": 0x%04X ", e.code);
  s += text.general.empty() ? "unknown code" : text.general;
  if (!text.drive.empty()) (s += " / ") += text.drive;
  if (f.len < 3) return;
  add(s, "; register 0x%02X ", e.errorRegister);
  s += errorRegisterText(e.errorRegister);
  if (e.manufacturerLength == 0) return;
  s += "; manufacturer ";
  addBytes(s, e.manufacturer.data(), e.manufacturerLength);
}

void errorControlText(std::string& s, const Decoded& d, const can::CanFrame& f) {
  if (d.service == Service::GuardRequest) return add(s, "Guarding request node %d", d.node);
  if (d.service == Service::BootUp) return add(s, "Boot-up node %d", d.node);
  add(s, d.service == Service::Heartbeat ? "Heartbeat node %d" : "Guarding answer node %d", d.node);
  if (f.len == 0) {
    s += ", no data";
    return;
  }
  const std::uint8_t state = f.data[0] & 0x7F;
  const std::string_view name = nmtStateName(state);
  if (name.empty()) add(s, ": state %d", state);
  else add(s, ": %.*s", static_cast<int>(name.size()), name.data());
  if (d.service == Service::GuardAnswer) add(s, ", toggle %d", (f.data[0] & kGuardToggleBit) != 0);
}

std::string_view lssCommandName(std::uint8_t cs) noexcept {
  switch (cs) {
    case 0x04: return "Switch state global";
    case 0x11: return "Configure node-ID";
    case 0x13: return "Configure bit timing";
    case 0x15: return "Activate bit timing";
    case 0x17: return "Store configuration";
    case 0x40: return "Switch state selective, vendor-ID";
    case 0x41: return "Switch state selective, product code";
    case 0x42: return "Switch state selective, revision number";
    case 0x43: return "Switch state selective, serial number";
    case 0x44: return "Switch state selective";
    case 0x46: return "Identify remote slave, vendor-ID";
    case 0x47: return "Identify remote slave, product code";
    case 0x48: return "Identify remote slave, revision number low";
    case 0x49: return "Identify remote slave, revision number high";
    case 0x4A: return "Identify remote slave, serial number low";
    case 0x4B: return "Identify remote slave, serial number high";
    case 0x4C: return "Identify non-configured remote slave";
    case 0x4F: return "Identify slave";
    case 0x50: return "Identify non-configured slave";
    case 0x51: return "Fastscan";
    case 0x5A: return "Inquire vendor-ID";
    case 0x5B: return "Inquire product code";
    case 0x5C: return "Inquire revision number";
    case 0x5D: return "Inquire serial number";
    case 0x5E: return "Inquire node-ID";
    default: return {};
  }
}

void lssText(std::string& s, const Decoded& d, const can::CanFrame& f) {
  s += d.service == Service::LssRequest ? "LSS request" : "LSS answer";
  if (f.len == 0) {
    s += ", no data";
    return;
  }
  const std::string_view name = lssCommandName(f.data[0]);
  if (name.empty()) return add(s, ": command 0x%02X", f.data[0]);
  add(s, ": %.*s", static_cast<int>(name.size()), name.data());
  const bool request = d.service == Service::LssRequest;
  if ((f.data[0] == 0x11 && request) || (f.data[0] == 0x5E && !request)) add(s, " %d", f.data[1]);
}

void addMultiplexer(std::string& s, const can::CanFrame& f) {
  add(s, " 0x%04X sub %d", loadLe16(&f.data[proto::kIndexLowByte]), f.data[proto::kSubIndexByte]);
}

// The data of an initiate frame that carries them: the expedited bytes or the size indicated.
void addInitiateData(std::string& s, std::uint8_t c, const can::CanFrame& f) {
  if (proto::isExpedited(c)) {
    const int n = proto::expeditedDataCount(c);
    add(s, ", %d bytes: ", n);
    addBytes(s, &f.data[proto::kInitiateDataByte], static_cast<std::size_t>(n));
  } else if (proto::isSizeIndicated(c)) {
    add(s, ", size %u", loadLe32(&f.data[proto::kInitiateDataByte]));
  }
}

// A segment: toggle, and for the side that sends data, its bytes and whether it is the last.
void addSegment(std::string& s, std::uint8_t c, const can::CanFrame& f, bool carriesData) {
  add(s, ", toggle %d", proto::toggleOf(c) != 0);
  if (!carriesData) return;
  const int n = proto::segmentDataCount(c);
  add(s, ", %d bytes: ", n);
  addBytes(s, &f.data[proto::kSegmentDataByte], static_cast<std::size_t>(n));
  if (proto::isLastSegment(c)) s += ", last";
}

void addAbort(std::string& s, const can::CanFrame& f) {
  const std::uint32_t code = loadLe32(&f.data[proto::kInitiateDataByte]);
  add(s, ", 0x%08X ", code);
  for (const char ch : sdo::lookUpAbortMessage(code)) s += ch == '\n' ? ' ' : ch;
}

// The block transfer frames. `dataSide`: the frame comes from the side that sends the data.
void addBlock(std::string& s, SdoCommand cmd, const can::CanFrame& f, bool dataSide) {
  const std::uint8_t c = f.data[proto::kCommandByte];
  const bool download = cmd <= SdoCommand::BlockDownloadEnd;
  s += download ? "block download " : "block upload ";
  switch (cmd) {
    case SdoCommand::BlockDownloadInitiate:
    case SdoCommand::BlockUploadInitiate:
      s += "initiate";
      addMultiplexer(s, f);
      if (dataSide && (c & proto::kBlockSizeBit) != 0)
        add(s, ", size %u", loadLe32(&f.data[proto::kInitiateDataByte]));
      if (!dataSide) add(s, ", block size %d", f.data[proto::kBlockSizeByte]);
      if (!dataSide && !download) add(s, ", switch threshold %d", f.data[proto::kBlockPstByte]);
      if ((c & proto::kBlockCrcBit) != 0) s += ", CRC";
      break;
    case SdoCommand::BlockDownloadSegment:
    case SdoCommand::BlockUploadSegment:
      add(s, "segment %d%s: ", c & proto::kBlockSeqnoMask,
          (c & proto::kBlockLastSegmentBit) != 0 ? " (last)" : "");
      addBytes(s, &f.data[1], proto::kSegmentDataSize);
      break;
    case SdoCommand::BlockDownloadAck:
    case SdoCommand::BlockUploadAck:
      add(s, "acknowledge %d, next block size %d", f.data[proto::kBlockAckSeqByte],
          f.data[proto::kBlockNextSizeByte]);
      break;
    case SdoCommand::BlockUploadStart: s += "start"; break;
    default:
      s += "end";
      if (dataSide)
        add(s, ", unused in last segment: %d, CRC 0x%04X", proto::blockEndUnusedBytes(c),
            loadLe16(&f.data[proto::kBlockCrcByte]));
      break;
  }
}

void sdoText(std::string& s, const Decoded& d, const can::CanFrame& f) {
  const bool request = d.service == Service::SdoRequest;
  add(s, "SDO %s node %d: ", request ? "request" : "answer", d.node);
  const std::uint8_t c = f.data[proto::kCommandByte];
  switch (d.sdo) {
    case SdoCommand::DownloadInitiate:
      s += "initiate download";
      addMultiplexer(s, f);
      if (request) addInitiateData(s, c, f);
      break;
    case SdoCommand::UploadInitiate:
      s += "initiate upload";
      addMultiplexer(s, f);
      if (!request) addInitiateData(s, c, f);
      break;
    case SdoCommand::DownloadSegment: s += "download segment"; addSegment(s, c, f, request); break;
    case SdoCommand::UploadSegment: s += "upload segment"; addSegment(s, c, f, !request); break;
    case SdoCommand::Abort:
      s += "abort";
      addMultiplexer(s, f);
      addAbort(s, f);
      break;
    case SdoCommand::Invalid: add(s, "command 0x%02X not valid", c); break;
    case SdoCommand::None: break;
    default: {
      const bool download = d.sdo <= SdoCommand::BlockDownloadEnd;
      addBlock(s, d.sdo, f, download == request);
      break;
    }
  }
  if (f.len != proto::kFrameLength) add(s, " (length %d)", f.len);
}

}  // namespace

std::string describe(const Decoded& d, const can::CanFrame& f, bool cia402Drive) {
  std::string s;
  switch (d.service) {
    case Service::Nmt: nmtText(s, f); break;
    case Service::Sync:
      s = "SYNC";
      if (f.len == 1) add(s, " counter %d", f.data[0]);
      else if (f.len > 1) add(s, ", length %d", f.len);
      break;
    case Service::Time: timeText(s, f); break;
    case Service::Emcy: emcyText(s, d, f, cia402Drive); break;
    case Service::Tpdo:
    case Service::Rpdo:
      add(s, "%s%d node %d", d.service == Service::Tpdo ? "TPDO" : "RPDO", d.pdoNumber, d.node);
      if (f.type == can::kMsgRemote) s += ", remote request";
      break;
    case Service::SdoRequest:
    case Service::SdoAnswer: sdoText(s, d, f); break;
    case Service::BootUp:
    case Service::Heartbeat:
    case Service::GuardRequest:
    case Service::GuardAnswer: errorControlText(s, d, f); break;
    case Service::LssRequest:
    case Service::LssAnswer: lssText(s, d, f); break;
    case Service::Unknown: s = "unknown"; break;
  }
  return s;
}

}  // namespace bp::busview
