// One table per enumeration that reaches text: the same table serves printing and parsing, so
// the two can never disagree. Parsing a name outside the table yields no value.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace vemor {

template <class E>
struct EnumName {
    E value;
    std::string_view name;
};

template <class E, std::size_t N>
constexpr std::string_view name_of(const std::array<EnumName<E>, N>& table, E value) {
    for (const auto& entry : table)
        if (entry.value == value) return entry.name;
    return {};
}

template <class E, std::size_t N>
constexpr std::optional<E> value_of(const std::array<EnumName<E>, N>& table,
                                    std::string_view name) {
    for (const auto& entry : table)
        if (entry.name == name) return entry.value;
    return std::nullopt;
}

}  // namespace vemor
