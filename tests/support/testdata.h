#pragma once

#include <string>
#include <string_view>

namespace wfb::test {

// A file of the project's test data (tests/data): the employee databases.
inline std::string testData(std::string_view name) {
    return std::string(WFB_TEST_DATA) + "/" + std::string(name);
}

} // namespace wfb::test
