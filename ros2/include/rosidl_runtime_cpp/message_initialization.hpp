#pragma once

namespace rosidl_runtime_cpp {

/// How a message constructor initialises its fields.
enum class MessageInitialization {
  ALL,            ///< Defaults where the definition gives them, zero elsewhere.
  SKIP,           ///< Leave plain fields uninitialised.
  ZERO,           ///< Zero every field.
  DEFAULTS_ONLY,  ///< Only fields with a default in the definition.
};

}  // namespace rosidl_runtime_cpp
