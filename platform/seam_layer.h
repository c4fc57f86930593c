// What a layer over another platform record shares with every other layer:
// the record it wraps, found through its own record's context, and the
// forwarding of the calls it leaves alone.
#pragma once

#include <utility>

#include "platform/seam.h"

namespace orv {

// A layer object derives from this first; its record's context points here.
struct SeamLayer {
  explicit SeamLayer(const Platform& wrapped) : inner(&wrapped) {}
  const Platform* inner;

  // The layer object behind a record whose context was set by SetContext.
  template <typename Layer>
  static Layer& Of(const Platform& record) {
    return *static_cast<Layer*>(static_cast<SeamLayer*>(record.context));
  }
  void SetContext(Platform& record) { record.context = this; }
};

// Calls member of the wrapped record, as the layer were not there.
template <typename Function>
struct PassThrough;

template <typename Result, typename... Args>
struct PassThrough<Result (*)(const Platform&, Args...)> {
  template <auto member>
  static Result Call(const Platform& self, Args... args) {
    const Platform& inner = *static_cast<const SeamLayer*>(self.context)->inner;
    return (inner.*member)(inner, std::forward<Args>(args)...);
  }
};

// Fills a layer's record: every operation of the list with the layer's own
// Forward<signature>::Call<op, member>, every query passing through. Each
// layer names its Forward template differently, even in an unnamed
// namespace: GCC gives FillLayerRecord<Forward> one symbol for every unit's
// unnamed-namespace Forward, and the linker keeps only one of them, so one
// layer's record would be filled with another layer's functions.
template <template <typename> class Forward>
void FillLayerRecord(Platform& record) {
#define ORV_SEAM_OP(name, result, parameters) \
  record.name = &Forward<decltype(Platform::name)>::template Call<SeamOp::name, &Platform::name>;
#define ORV_SEAM_QUERY(name, result, parameters) \
  record.name = &PassThrough<decltype(Platform::name)>::template Call<&Platform::name>;
#include "platform/seam_ops.inc"
#undef ORV_SEAM_QUERY
#undef ORV_SEAM_OP
}

}  // namespace orv
