#pragma once
// A stable sort of records by a 32-bit key, for the block lists of a read or
// a carve (up to millions of records): two passes of a radix sort, 16 bits
// of the key each, at a fraction of a comparison sort's cost. Records of
// equal keys keep the order they came in. Lists already in order cost only
// the check; short ones take std::stable_sort.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// spare: room the sort may use (and leave as it likes), so that a caller
// sorting many lists one after the other need not have fresh memory
// mapped for each.
template <class T, class A, class Key>
void StableSortByKey32(std::vector<T, A>& items, Key key, std::vector<T, A>& spare) {
    const auto less = [&key](const T& a, const T& b) { return key(a) < key(b); };
    if (std::is_sorted(items.begin(), items.end(), less)) return;
    if (items.size() < 4096) {
        std::stable_sort(items.begin(), items.end(), less);
        return;
    }
    constexpr std::size_t kDigits = std::size_t{1} << 16;
    std::vector<T, A>& other = spare;
    other.resize(items.size());
    std::vector<std::size_t> count(kDigits);
    for (const int shift : {0, 16}) {
        std::fill(count.begin(), count.end(), 0);
        for (const T& e : items) ++count[(static_cast<std::uint32_t>(key(e)) >> shift) & 0xFFFF];
        std::size_t at = 0;
        for (std::size_t& c : count) at += std::exchange(c, at);
        for (const T& e : items) other[count[(static_cast<std::uint32_t>(key(e)) >> shift) & 0xFFFF]++] = e;
        items.swap(other);
    }
}

template <class T, class A, class Key>
void StableSortByKey32(std::vector<T, A>& items, Key key) {
    std::vector<T, A> spare;
    StableSortByKey32(items, key, spare);
}
