// The resources compiled into the program. The build generates the definition from resources/.
#pragma once

#include <cstdint>
#include <span>

namespace platform {

struct CompiledResource {
  const char* name;
  const std::uint8_t* data;
  std::size_t size;
};

std::span<const CompiledResource> CompiledResources();

}  // namespace platform
