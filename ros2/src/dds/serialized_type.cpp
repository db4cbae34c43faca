#include "serialized_type.hpp"

#include <dds/ddsi/ddsi_serdata.h>
#include <dds/ddsi/ddsi_sertype.h>
#include <dds/ddsi/q_radmin.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

namespace rclcpp {
namespace detail {
namespace {

using rosidl_typesupport_velmora::MessageTypeSupport;

struct SerializedType {
  struct ddsi_sertype base;  // first member: Cyclone sees only this part
  const MessageTypeSupport* type_support;
};

struct SerializedSample {
  struct ddsi_serdata base;  // first member: Cyclone sees only this part
  std::vector<uint8_t> bytes;
};

const MessageTypeSupport& type_support_of(const struct ddsi_sertype* type) {
  return *reinterpret_cast<const SerializedType*>(type)->type_support;
}

SerializedSample* sample_of(const struct ddsi_serdata* sample) {
  return reinterpret_cast<SerializedSample*>(const_cast<struct ddsi_serdata*>(sample));
}

// A new sample of `type` and `kind`; the caller fills the bytes.
SerializedSample* new_sample(const struct ddsi_sertype* type, enum ddsi_serdata_kind kind) {
  auto sample = std::make_unique<SerializedSample>();
  ddsi_serdata_init(&sample->base, type, kind);
  return sample.release();  // owned by Cyclone's reference count; freed in sample_free
}

// A new sample without data (a key or an empty sample of a keyless type): just the header.
SerializedSample* new_header_only_sample(const struct ddsi_sertype* type,
                                         enum ddsi_serdata_kind kind) {
  SerializedSample* sample = new_sample(type, kind);
  sample->bytes = {0x00, 0x01, 0x00, 0x00};
  return sample;
}

// Serialises `message` of `type` into `bytes`; false if the message cannot be serialised.
bool serialize_message(const struct ddsi_sertype* type, const void* message,
                       std::vector<uint8_t>& bytes) {
  try {
    type_support_of(type).serialize(message, bytes);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

// --- sample operations ------------------------------------------------------------------------

bool sample_eqkey(const struct ddsi_serdata*, const struct ddsi_serdata*) {
  return true;  // keyless: a topic is one instance
}

uint32_t sample_size(const struct ddsi_serdata* sample) {
  return static_cast<uint32_t>(sample_of(sample)->bytes.size());
}

struct ddsi_serdata* sample_from_ser(const struct ddsi_sertype* type, enum ddsi_serdata_kind kind,
                                     const struct nn_rdata* fragments, size_t size) {
  SerializedSample* sample = new_sample(type, kind);
  sample->bytes.resize(size);
  uint32_t offset = 0;
  for (const struct nn_rdata* fragment = fragments; fragment != nullptr;
       fragment = fragment->nextfrag) {
    if (fragment->maxp1 <= offset) continue;  // fragments may overlap
    const unsigned char* payload =
        NN_RMSG_PAYLOADOFF(fragment->rmsg, NN_RDATA_PAYLOAD_OFF(fragment));
    const uint32_t skip = offset - fragment->min;
    const uint32_t end = std::min<uint32_t>(fragment->maxp1, static_cast<uint32_t>(size));
    if (end > offset) std::memcpy(sample->bytes.data() + offset, payload + skip, end - offset);
    offset = fragment->maxp1;
  }
  return &sample->base;
}

struct ddsi_serdata* sample_from_ser_iov(const struct ddsi_sertype* type,
                                         enum ddsi_serdata_kind kind, ddsrt_msg_iovlen_t niov,
                                         const ddsrt_iovec_t* iov, size_t size) {
  SerializedSample* sample = new_sample(type, kind);
  sample->bytes.reserve(size);
  for (ddsrt_msg_iovlen_t i = 0; i < niov; ++i) {
    const auto* data = static_cast<const uint8_t*>(iov[i].iov_base);
    sample->bytes.insert(sample->bytes.end(), data, data + iov[i].iov_len);
  }
  sample->bytes.resize(size);
  return &sample->base;
}

struct ddsi_serdata* sample_from_keyhash(const struct ddsi_sertype* type,
                                         const struct ddsi_keyhash*) {
  return &new_header_only_sample(type, SDK_KEY)->base;
}

struct ddsi_serdata* sample_from_message(const struct ddsi_sertype* type,
                                         enum ddsi_serdata_kind kind, const void* message) {
  if (kind != SDK_DATA) return &new_header_only_sample(type, kind)->base;
  SerializedSample* sample = new_sample(type, kind);
  if (!serialize_message(type, message, sample->bytes)) {
    ddsi_serdata_unref(&sample->base);
    return nullptr;  // dds_write reports the failure
  }
  return &sample->base;
}

void sample_to_ser(const struct ddsi_serdata* sample, size_t offset, size_t size, void* buffer) {
  std::memcpy(buffer, sample_of(sample)->bytes.data() + offset, size);
}

struct ddsi_serdata* sample_to_ser_ref(const struct ddsi_serdata* sample, size_t offset,
                                       size_t size, ddsrt_iovec_t* ref) {
  ref->iov_base = sample_of(sample)->bytes.data() + offset;
  ref->iov_len = static_cast<ddsrt_iov_len_t>(size);
  return ddsi_serdata_ref(sample);
}

void sample_to_ser_unref(struct ddsi_serdata* sample, const ddsrt_iovec_t*) {
  ddsi_serdata_unref(sample);
}

bool sample_to_message(const struct ddsi_serdata* sample, void* message, void**, void*) {
  if (sample->kind != SDK_DATA) return true;
  const auto& bytes = sample_of(sample)->bytes;
  try {
    type_support_of(sample->type).deserialize(bytes.data(), bytes.size(), message);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

struct ddsi_serdata* sample_to_untyped(const struct ddsi_serdata* sample) {
  SerializedSample* untyped = new_header_only_sample(sample->type, SDK_KEY);
  untyped->base.type = nullptr;
  return &untyped->base;
}

bool untyped_to_message(const struct ddsi_sertype*, const struct ddsi_serdata*, void*, void**,
                        void*) {
  return true;  // keyless: nothing to fill in
}

void sample_free(struct ddsi_serdata* sample) {
  std::unique_ptr<SerializedSample> owned(sample_of(sample));
}

size_t sample_print(const struct ddsi_sertype* type, const struct ddsi_serdata* sample,
                    char* buffer, size_t size) {
  return static_cast<size_t>(std::snprintf(buffer, size, "%s sample of %zu bytes",
                                           type_support_of(type).dds_type_name,
                                           sample_of(sample)->bytes.size()));
}

void sample_keyhash(const struct ddsi_serdata*, struct ddsi_keyhash* keyhash, bool) {
  std::memset(keyhash, 0, sizeof(*keyhash));
}

const struct ddsi_serdata_ops kSampleOps = {sample_eqkey,
                                            sample_size,
                                            sample_from_ser,
                                            sample_from_ser_iov,
                                            sample_from_keyhash,
                                            sample_from_message,
                                            sample_to_ser,
                                            sample_to_ser_ref,
                                            sample_to_ser_unref,
                                            sample_to_message,
                                            sample_to_untyped,
                                            untyped_to_message,
                                            sample_free,
                                            sample_print,
                                            sample_keyhash,
                                            nullptr,
                                            nullptr};

// --- type operations --------------------------------------------------------------------------

void type_free(struct ddsi_sertype* type) {
  std::unique_ptr<SerializedType> owned(reinterpret_cast<SerializedType*>(type));
  ddsi_sertype_fini(type);
}

void type_zero_samples(const struct ddsi_sertype*, void*, size_t) {}

// Cyclone allocates samples through these only for loans and for dds_read / dds_take without
// buffers, which this transport does not use; an allocation request yields null entries.
void type_realloc_samples(void** ptrs, const struct ddsi_sertype*, void*, size_t, size_t count) {
  for (size_t i = 0; i < count; ++i) ptrs[i] = nullptr;
}

void type_free_samples(const struct ddsi_sertype*, void**, size_t, dds_free_op_t) {}

bool type_equal(const struct ddsi_sertype* a, const struct ddsi_sertype* b) {
  return reinterpret_cast<const SerializedType*>(a)->type_support ==
         reinterpret_cast<const SerializedType*>(b)->type_support;
}

uint32_t type_hash(const struct ddsi_sertype* type) {
  return static_cast<uint32_t>(std::hash<std::string>()(type_support_of(type).dds_type_name));
}

size_t type_serialized_size(const struct ddsi_sertype* type, const void* message) {
  std::vector<uint8_t> bytes;
  return serialize_message(type, message, bytes) ? bytes.size() : SIZE_MAX;
}

bool type_serialize_into(const struct ddsi_sertype* type, const void* message, void* buffer,
                         size_t size) {
  std::vector<uint8_t> bytes;
  if (!serialize_message(type, message, bytes) || bytes.size() > size) return false;
  std::memcpy(buffer, bytes.data(), bytes.size());
  return true;
}

const struct ddsi_sertype_ops kTypeOps = {ddsi_sertype_v0,
                                          nullptr,
                                          type_free,
                                          type_zero_samples,
                                          type_realloc_samples,
                                          type_free_samples,
                                          type_equal,
                                          type_hash,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          type_serialized_size,
                                          type_serialize_into};

}  // namespace

struct ddsi_sertype* make_serialized_type(const MessageTypeSupport& type_support) {
  auto type = std::make_unique<SerializedType>();
  type->type_support = &type_support;
  ddsi_sertype_init_flags(&type->base, type_support.dds_type_name, &kTypeOps, &kSampleOps,
                          DDSI_SERTYPE_FLAG_TOPICKIND_NO_KEY);
  type->base.allowed_data_representation = DDS_DATA_REPRESENTATION_FLAG_XCDR1;
  return &type.release()->base;  // owned by Cyclone's reference count; freed in type_free
}

const std::vector<uint8_t>& serialized_bytes(const struct ddsi_serdata* sample) {
  return sample_of(sample)->bytes;
}

}  // namespace detail
}  // namespace rclcpp
