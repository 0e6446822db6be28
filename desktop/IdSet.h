// A small set over the members of an enumeration whose values run from 0 to 31.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace vto {

template <class E>
class TIdSet {
 public:
  constexpr TIdSet() = default;
  constexpr TIdSet(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
  constexpr void Include(E m) { bits_ |= Bit(m); }
  constexpr void Exclude(E m) { bits_ &= ~Bit(m); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint32_t Bits() const { return bits_; }
  friend constexpr bool operator==(TIdSet a, TIdSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr std::uint32_t Bit(E m) {
    return std::uint32_t{1} << (static_cast<std::uint32_t>(m) & 31u);
  }
  std::uint32_t bits_ = 0;
};

}  // namespace vto
