#include "dcf/DcfRestore.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>

#include "canopen/Identifiers.h"
#include "od/ValueEncoding.h"
#include "od/ValueText.h"
#include "util/LittleEndian.h"

namespace bp::dcf {
namespace {

constexpr std::uint16_t kStoreParameters = 0x1010;
// Objects whose writes are commands, not settings: clearing the error history, storing, restoring
// the defaults, starting or stopping the node's program.
constexpr std::uint16_t kCommandObjects[] = {0x1003, kStoreParameters, 0x1011, 0x1F51};
constexpr std::uint32_t kSaveSignature = 0x65766173;  // "save"
constexpr std::uint16_t kMappingOffset = canopen::kRpdoMapping - canopen::kRpdoCommunication;

bool isCommunication(std::uint16_t i) {
  return (i >= canopen::kRpdoCommunication && i < canopen::kRpdoMapping) ||
         (i >= canopen::kTpdoCommunication && i < canopen::kTpdoMapping);
}
bool isMapping(std::uint16_t i) {
  return (i >= canopen::kRpdoMapping && i < canopen::kRpdoMapping + canopen::kMaxPdos) ||
         (i >= canopen::kTpdoMapping && i < canopen::kTpdoMapping + canopen::kMaxPdos);
}

std::string le32(std::uint32_t v) {
  std::uint8_t b[4];
  storeLe32(b, v);
  return {reinterpret_cast<const char*>(b), 4};
}

}  // namespace

std::string objectName(std::uint16_t index, std::uint8_t sub) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%04X sub %u", index, sub);
  return buf;
}

namespace {

class Restorer {
 public:
  Restorer(const od::ObjectDictionary& dcf, const NodeAccess& node, const RestoreOptions& options, RestoreReport& r)
      : m_dcf(dcf), m_node(node), m_options(options), m_report(r) {}

  // The DCF's bytes of an object to write, or nothing for what is never written.
  std::optional<std::string> valueOf(ObjectKey k) {
    const od::ObjectEntry* e = m_dcf.find(k.first, k.second);
    if (e == nullptr || e->access == od::kReadOnly || e->dataType == od::kDomain ||
        std::find(std::begin(kCommandObjects), std::end(kCommandObjects), k.first) != std::end(kCommandObjects))
      return std::nullopt;
    std::string bytes = od::entryBytes(*e);
    if (bytes.empty() && od::fixedSize(e->dataType) != 0) return std::nullopt;
    return bytes;
  }

  // Writes one value; false (the error kept) when it failed.
  bool write(ObjectKey k, std::string_view bytes, bool target) {
    try {
      m_node.write(k.first, k.second, bytes);
    } catch (const std::exception& e) {
      m_report.errors.push_back(objectName(k.first, k.second) + ": " + e.what());
      return false;
    }
    if (target) {
      ++m_report.written;
      m_targets.push_back(k);
    }
    return true;
  }

  // Writes an object of the DCF (skipped when it is never written); false when the write failed.
  bool writeFromDcf(ObjectKey k) {
    const std::optional<std::string> bytes = valueOf(k);
    if (!bytes) {
      ++m_report.skipped;
      return true;
    }
    return write(k, *bytes, true);
  }

  bool restorePdo(std::uint16_t comm, std::span<const ObjectKey> objects);
  void readBack(char sep);
  bool keepGoing() const { return m_options.keepGoing; }

 private:
  bool remap(std::uint16_t comm, std::span<const ObjectKey> objects);

  const od::ObjectDictionary& m_dcf;
  const NodeAccess& m_node;
  const RestoreOptions& m_options;
  RestoreReport& m_report;
  std::vector<ObjectKey> m_targets;  // the DCF's objects written, in order
};

// One PDO: disabled while it is remapped, its COB-ID of the DCF last; enabled again as it was when
// a step fails.
bool Restorer::restorePdo(std::uint16_t comm, std::span<const ObjectKey> objects) {
  std::uint32_t cobId = 0;
  try {
    std::string bytes = m_node.read(comm, 1);
    bytes.resize(4, '\0');
    cobId = loadLe32(reinterpret_cast<const std::uint8_t*>(bytes.data()));
  } catch (const std::exception& e) {
    m_report.errors.push_back(objectName(comm, 1) + ": " + e.what());
    return false;
  }
  const bool enabled = (cobId & canopen::kCobIdInvalid) == 0;
  if (enabled && !write({comm, 1}, le32(cobId | canopen::kCobIdInvalid), false)) return false;
  if (remap(comm, objects)) {
    const bool fromDcf = std::find(objects.begin(), objects.end(), ObjectKey{comm, 1}) != objects.end();
    if (fromDcf ? writeFromDcf({comm, 1}) : (!enabled || write({comm, 1}, le32(cobId), false))) return true;
  }
  if (enabled) write({comm, 1}, le32(cobId), false);  // never left disabled
  return false;
}

bool Restorer::remap(std::uint16_t comm, std::span<const ObjectKey> objects) {
  const auto mapping = static_cast<std::uint16_t>(comm + kMappingOffset);
  // A static mapping (its count read-only) is left as it is.
  const od::ObjectEntry* count = m_dcf.find(mapping, 0);
  const bool remapped = count != nullptr && count->access != od::kReadOnly &&
                        std::any_of(objects.begin(), objects.end(), [&](ObjectKey k) { return k.first == mapping; });
  if (remapped) {
    if (!write({mapping, 0}, std::string(1, '\0'), false)) return false;
    for (const ObjectKey& k : objects)
      if (k.first == mapping && k.second != 0 && !writeFromDcf(k)) return false;
    if (!writeFromDcf({mapping, 0})) return false;
  }
  for (const ObjectKey& k : objects)
    if (k.first == comm && k.second != 1 && !writeFromDcf(k)) return false;
  return true;
}

void Restorer::readBack(char sep) {
  for (const ObjectKey& k : m_targets) {
    const od::ObjectEntry& e = *m_dcf.find(k.first, k.second);
    const std::string wanted = od::entryBytes(e);
    std::string now;
    try {
      now = m_node.read(k.first, k.second);
    } catch (const std::exception& ex) {
      m_report.differences.push_back({k.first, k.second, std::string(e.nameText()), od::FormatObjectValue(e, sep),
                                      std::string("(") + ex.what() + ")"});
      continue;
    }
    if (od::fixedSize(e.dataType) != 0) now.resize(std::max(now.size(), wanted.size()), '\0');
    if (now == wanted) continue;
    od::ObjectEntry read;
    read.dataType = e.dataType;
    od::storeValueBytes(read, now, now.size());
    m_report.differences.push_back({k.first, k.second, std::string(e.nameText()), od::FormatObjectValue(e, sep),
                                    od::FormatObjectValue(read, sep)});
  }
}

}  // namespace

RestoreReport restore(const od::ObjectDictionary& dcf, std::span<const ObjectKey> objects, const NodeAccess& node,
                      const RestoreOptions& options, char sep) {
  RestoreReport report;
  Restorer r(dcf, node, options, report);
  std::vector<ObjectKey> pdoObjects;
  std::vector<std::uint16_t> pdos;  // communication indices, ascending
  for (const ObjectKey& k : objects) {
    if (!isCommunication(k.first) && !isMapping(k.first)) {
      if (!r.writeFromDcf(k) && !options.keepGoing) return report.stopped = true, r.readBack(sep), report;
      continue;
    }
    pdoObjects.push_back(k);
    pdos.push_back(isMapping(k.first) ? static_cast<std::uint16_t>(k.first - kMappingOffset) : k.first);
  }
  std::sort(pdos.begin(), pdos.end());
  pdos.erase(std::unique(pdos.begin(), pdos.end()), pdos.end());
  for (const std::uint16_t comm : pdos) {
    std::vector<ObjectKey> own;
    for (const ObjectKey& k : pdoObjects)
      if (k.first == comm || k.first == comm + kMappingOffset) own.push_back(k);
    if (!r.restorePdo(comm, own) && !options.keepGoing) return report.stopped = true, r.readBack(sep), report;
  }
  if (options.save && !r.write({kStoreParameters, 1}, le32(kSaveSignature), false) && !options.keepGoing)
    report.stopped = true;
  r.readBack(sep);
  return report;
}

}  // namespace bp::dcf
