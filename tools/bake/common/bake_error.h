// The one error type of the baker: bad input (a recipe, a mesh, a material) or a numerical step
// that failed. The message names the file and what is wrong; tonwell-bake prints it, removes its
// unfinished output and exits with status 1.
#pragma once

#include <stdexcept>
#include <string>

struct BakeError : std::runtime_error {
    explicit BakeError(const std::string& message) : std::runtime_error(message) {}
};
