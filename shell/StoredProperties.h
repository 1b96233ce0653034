#pragma once
// The settings of the main form that the settings store keeps: which control properties, and in
// which order they are written and read. It belongs to the form, not to the store, which keeps
// whatever list its form gives it.
#include <string>
#include <vector>

namespace shell {

// The 21 settings of the main form, each "Component.Property", in the order they are written and
// read.
const std::vector<std::string> &MainFormStoredProps();

}  // namespace shell
