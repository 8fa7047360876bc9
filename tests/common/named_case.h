#pragma once
// Table-driven tests: a case is a struct whose member `name` names it.  The
// generator gives each instance that name as its test name, and PrintTo in
// the case's own namespace (one line next to the struct) makes the parameter
// print as the same name, so ctest's names stay the same from build to build.
#include <gtest/gtest.h>

#include <string>

namespace vx::test {

struct TCaseName {
  template <class T>
  std::string operator()(const ::testing::TestParamInfo<T>& info) const {
    return std::string(info.param.name);
  }
};

}  // namespace vx::test
