#include "dcf/DcfNode.h"

#include <exception>

#include "od/EdsReader.h"
#include "od/ValueEncoding.h"
#include "od/ValueRange.h"
#include "od/ValueText.h"
#include "util/Error.h"

namespace bp::dcf {

NodeAccess accessThrough(sdo::SdoTransfer& transfer) {
  return {[&transfer](std::uint16_t index, std::uint8_t sub) { return transfer.upload(index, sub); },
          [&transfer](std::uint16_t index, std::uint8_t sub, std::string_view bytes) {
            transfer.download(index, sub, bytes);
          }};
}

namespace {
std::string typeText(std::int8_t dataType) {
  const std::string_view name = od::dataTypeName(dataType);
  return name.empty() ? "data type " + std::to_string(dataType) : std::string(name);
}
}  // namespace

std::vector<ObjectKey> parameterValues(std::string_view dcfText, const od::ObjectDictionary& dcf, const std::string& name,
                                       char decimalSep) {
  std::vector<ObjectKey> keys;
  for (const od::ParameterValueLine& v : od::parameterValueLines(dcfText, dcf)) {
    const od::ObjectEntry* e = dcf.find(v.index, v.subIndex);
    if (e != nullptr && !od::valueTextConverts(e->dataType, v.text, decimalSep))
      throw Error("\"" + name + "\": " + objectName(v.index, v.subIndex) + ": ParameterValue \"" + std::string(v.text) +
                  "\" is no value of " + typeText(e->dataType) + "; nothing was written or compared");
    keys.emplace_back(v.index, v.subIndex);
  }
  return keys;
}

std::vector<ObjectKey> dcfValues(std::string_view dcfText, const od::ObjectDictionary& dcf, const std::string& name,
                                 char decimalSep) {
  std::vector<ObjectKey> keys = parameterValues(dcfText, dcf, name, decimalSep);
  if (keys.empty()) throw Error("\"" + name + "\" holds no ParameterValue: it is no DCF of a node's values");
  return keys;
}

std::vector<ObjectKey> readableObjects(const od::ObjectDictionary& dictionary) {
  std::vector<ObjectKey> out;
  for (const od::ObjectEntry* h : dictionary.heads())
    for (const od::ObjectEntry* e = h; e != nullptr; e = e->next)
      if (e->subIndex >= 0 && e->access != od::kWriteOnly && e->dataType != od::kDomain &&
          od::parameterValueText(e->dataType, "").has_value())
        out.emplace_back(static_cast<std::uint16_t>(e->index), static_cast<std::uint8_t>(e->subIndex));
  return out;
}

std::vector<od::ReadOutcome> readObjects(std::span<const ObjectKey> objects, const NodeAccess& node,
                                         const std::function<void(std::size_t, std::size_t)>& step,
                                         const std::function<bool()>& cancelled) {
  std::vector<od::ReadOutcome> out;
  int inARow = 0;
  for (const ObjectKey& k : objects) {
    if (cancelled()) throw Error("Cancelled");
    od::ReadOutcome o{k.first, k.second, false, {}, {}};
    try {
      o.bytes = node.read(k.first, k.second);
      o.ok = true;
      inARow = 0;
    } catch (const sdo::TimeoutError& e) {
      o.error = e.what();
      if (cancelled()) throw Error("Cancelled");
      if (++inARow == kMaxFailuresInARow)
        throw Error("Reading stopped: the node did not answer " + std::to_string(kMaxFailuresInARow) +
                    " times in a row; the last: " + o.error);
    } catch (const std::exception& e) {
      o.error = e.what();  // an abort: the node is there, the object is not readable
      if (cancelled()) throw Error("Cancelled");
      inARow = 0;
    }
    out.push_back(std::move(o));
    step(out.size(), objects.size());
  }
  return out;
}

void storeOutcomes(od::ObjectDictionary& dictionary, std::span<const od::ReadOutcome> outcomes) {
  for (const od::ReadOutcome& o : outcomes)
    if (od::ObjectEntry* e = dictionary.find(o.index, o.subIndex); e != nullptr && o.ok)
      od::storeValueBytes(*e, o.bytes, o.bytes.size());
}

std::vector<Difference> failedReads(const od::ObjectDictionary& left, std::span<const od::ReadOutcome> outcomes,
                                    char sep) {
  std::vector<Difference> out;
  for (const od::ReadOutcome& o : outcomes) {
    if (o.ok) continue;
    const od::ObjectEntry* e = left.find(o.index, o.subIndex);
    out.push_back({o.index, o.subIndex, e != nullptr ? std::string(e->nameText()) : std::string(),
                   e != nullptr ? od::FormatObjectValue(*e, sep) : std::string(), "(" + o.error + ")"});
  }
  return out;
}

}  // namespace bp::dcf
