#pragma once
// One way to keep what a bar can change and to put it back.
//
// Every incremental piece (the strokes' pending part, the streaming engine,
// the trading-point stream, the level replay) lists the fields a bar can
// change once, in one static member template:
//
//     template <typename Self, typename Visitor>
//     static void visitState(Self& self, Visitor& v) {
//         v(self.count_);
//         v(Settled(self.list_, self.final_));
//     }
//
// (Self is the piece, const when it is read.) Every use walks that one list:
// a Tape keeps a piece before a provisional bar and takes the bar back, and
// a snapshot writes the same list whole. A field left out of the list is
// left out of every use, which the provisional-bar and round-trip tests see.
//
// What a visitor can be handed:
//  - a trivially copyable value, kept as its bytes;
//  - a piece or part with its own visitState, visited in turn;
//  - a std::vector or std::optional of either, kept whole;
//  - Settled(list, final): a growing list whose first `final` entries no
//    later bar changes. A tape made before a bar keeps only the entries from
//    `final` on, and taking the bar back cuts the list to `final` and puts
//    them back, so a provisional bar costs the tails, not the history.

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <span>
#include <type_traits>
#include <vector>

namespace vlm::state {

template <typename List>
struct Settled {
    // A constructor rather than an aggregate: parenthesised aggregate
    // initialisation is not in every compiler the presets use.
    Settled(List& list, std::size_t finalCount) : items(list), final(finalCount) {}
    List& items;
    std::size_t final;
};
template <typename List>
Settled(List&, std::size_t) -> Settled<List>;

// How much of each Settled list a tape holds.
enum class Extent {
    Tails,  // from each list's final entries on: takes back what later bars do
    Whole,  // every entry: restores into a fresh piece of the same options
};

// Whether a bool read back from bytes holds false or true: any other byte
// is no value a bool can have.
inline bool ValidBool(const bool& b) {
    unsigned char byte = 0;
    std::memcpy(&byte, &b, 1);
    return byte <= 1;
}

// Whether two values read back hold the same bytes: for fields whose every
// byte is value (no padding), compared without loading a value that may be
// none of its type's.
template <typename T>
bool SameBytes(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Whether an enumeration read back from bytes is one of its first values,
// read as bytes so that no out-of-range value is loaded.
template <typename E>
bool EnumWithin(const E& e, E last) {
    std::underlying_type_t<E> value{};
    std::memcpy(&value, &e, sizeof value);
    return value >= 0 && value <= static_cast<std::underlying_type_t<E>>(last);
}

namespace detail {

template <typename T>
struct IsVector : std::false_type {};
template <typename T, typename A>
struct IsVector<std::vector<T, A>> : std::true_type {};

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <typename T, typename V>
concept HasVisit = requires(T& t, V& v) { std::remove_const_t<T>::visitState(t, v); };

}  // namespace detail

// Writes what a piece's visitState lists to bytes.
class Writer {
public:
    Writer(std::vector<std::byte>& bytes, Extent extent) : bytes_(bytes), extent_(extent) {}

    template <typename T>
    void operator()(const T& value) {
        if constexpr (detail::HasVisit<const T, Writer>) {
            T::visitState(value, *this);
        } else if constexpr (detail::IsVector<T>::value) {
            writeRange(value, 0);
        } else if constexpr (detail::IsOptional<T>::value) {
            const bool has = value.has_value();
            put(&has, sizeof has);
            if (has) (*this)(*value);
        } else {
            static_assert(std::is_trivially_copyable_v<T>, "a state field must be a value, a vector or visited");
            put(&value, sizeof(T));
        }
    }
    template <typename List>
    void operator()(const Settled<List>& list) {
        writeRange(list.items, extent_ == Extent::Tails ? list.final : 0);
    }

private:
    template <typename List>
    void writeRange(const List& items, std::size_t from) {
        using T = typename List::value_type;
        const std::size_t n = items.size() - from;
        put(&from, sizeof from);
        put(&n, sizeof n);
        if constexpr (detail::HasVisit<const T, Writer>) {
            for (std::size_t i = from; i < items.size(); ++i) (*this)(items[i]);
        } else {
            static_assert(std::is_trivially_copyable_v<T>, "a state list holds values or visited parts");
            put(items.data() + from, n * sizeof(T));
        }
    }
    void put(const void* data, std::size_t size) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + size);
        if (size != 0) std::memcpy(bytes_.data() + at, data, size);
    }

    std::vector<std::byte>& bytes_;
    Extent extent_;
};

// Reads back, into a piece, what a Writer wrote of it. Throws
// std::invalid_argument where the bytes run out or do not fit the piece.
class Reader {
public:
    // Read whole (into a fresh piece, from bytes that may not be a piece's
    // state at all), the counts of final entries are checked against their
    // lists; read as tails, a list's count may be that of before the read.
    explicit Reader(std::span<const std::byte> bytes, Extent extent = Extent::Tails)
        : bytes_(bytes), extent_(extent) {}

    template <typename T>
    void operator()(T& value) {
        if constexpr (detail::HasVisit<T, Reader>) {
            T::visitState(value, *this);
        } else if constexpr (detail::IsVector<T>::value) {
            readRange(value);
        } else if constexpr (detail::IsOptional<T>::value) {
            bool has = false;
            (*this)(has);
            if (!has) {
                value.reset();
                return;
            }
            if (!value) {
                using Value = typename T::value_type;
                if constexpr (std::is_default_constructible_v<Value>) {
                    value.emplace();
                } else if constexpr (std::is_trivially_copyable_v<Value>) {
                    // A value without a default is made from its bytes.
                    std::array<std::byte, sizeof(Value)> bytes{};
                    get(bytes.data(), bytes.size());
                    value.emplace(std::bit_cast<Value>(bytes));
                    return;
                } else {
                    throw std::invalid_argument("the state is of a piece built with other options");
                }
            }
            (*this)(*value);
        } else if constexpr (std::is_same_v<T, bool>) {
            unsigned char byte = 0;
            get(&byte, 1);
            if (byte > 1) throw std::invalid_argument("the state does not fit the piece");
            value = byte != 0;
        } else {
            static_assert(std::is_trivially_copyable_v<T>, "a state field must be a value, a vector or visited");
            get(&value, sizeof(T));
        }
    }
    template <typename List>
    void operator()(const Settled<List>& list) {
        readRange(list.items);
        if (extent_ == Extent::Whole && list.final > list.items.size()) {
            throw std::invalid_argument("the state does not fit the piece");
        }
    }
    // Bytes not read yet: none once a whole piece is read from its own.
    [[nodiscard]] std::size_t remaining() const { return bytes_.size() - at_; }

private:
    // The entries are read into those the list holds at their places, so
    // their own lists keep their room.
    template <typename List>
    void readRange(List& items) {
        using T = typename List::value_type;
        std::size_t from = 0, n = 0;
        get(&from, sizeof from);
        get(&n, sizeof n);
        if (from > items.size() || n > bytes_.size() - at_) {
            throw std::invalid_argument("the state does not fit the piece");
        }
        items.resize(from + n);
        if constexpr (detail::HasVisit<T, Reader>) {
            for (std::size_t i = from; i < items.size(); ++i) (*this)(items[i]);
        } else {
            get(items.data() + from, n * sizeof(T));
        }
    }
    void get(void* data, std::size_t size) {
        if (size > bytes_.size() - at_) throw std::invalid_argument("the state ends too early");
        if (size != 0) std::memcpy(data, bytes_.data() + at_, size);
        at_ += size;
    }

    std::span<const std::byte> bytes_;
    std::size_t at_ = 0;
    Extent extent_;
};

// A piece's state kept as bytes. Kept with Extent::Tails, restore takes
// back every bar given since keep; kept whole, it restores into a fresh
// piece built with the same options. The buffer is reused, so keeping
// before every provisional bar allocates only while the tails grow.
class Tape {
public:
    template <typename Piece>
    void keep(const Piece& piece, Extent extent = Extent::Tails) {
        bytes_.clear();
        Writer writer(bytes_, extent);
        Piece::visitState(piece, writer);
    }
    template <typename Piece>
    void restore(Piece& piece) const {
        Reader reader(bytes_);
        Piece::visitState(piece, reader);
    }
    [[nodiscard]] std::span<const std::byte> bytes() const { return bytes_; }

private:
    friend class Provisional;
    std::vector<std::byte> bytes_;
};

// The provisional-bar verbs every incremental piece offers, in one place:
// pushProvisional keeps the piece and pushes; the next push of either kind,
// or takeBackProvisional, first puts the kept state back.
class Provisional {
public:
    template <typename Piece>
    void keep(const Piece& piece) {
        tape_.keep(piece);
        active_ = true;  // after the keep, which writes this as it was
    }
    // Restores `piece` if a provisional bar is on it; false if none was.
    template <typename Piece>
    bool takeBack(Piece& piece) {
        if (!active_) return false;
        active_ = false;
        tape_.restore(piece);
        return true;
    }
    [[nodiscard]] bool active() const { return active_; }
    // Whether `piece`, which holds this, would be in a state that `fits`
    // accepts once its provisional bar is taken back: for a piece read
    // from bytes, whose tape may not be one. Takes it back on a copy.
    template <typename Piece, typename Fits>
    static bool takesBackFitting(const Piece& piece, const Provisional& self, Fits fits) {
        if (!self.active_) return true;
        Piece copy = piece;
        try {
            copy.takeBackProvisional();
        } catch (const std::invalid_argument&) {
            return false;
        }
        return fits(copy);
    }
    // Whether a bar is on: the bytes that take it back are not compared.
    friend bool operator==(const Provisional& a, const Provisional& b) { return a.active_ == b.active_; }

    // A piece holding a provisional bar is part of its state: written whole,
    // it takes that bar back after a restore too.
    template <typename Self, typename Visitor>
    static void visitState(Self& self, Visitor& v) {
        v(self.active_);
        if (self.active_) v(self.tape_.bytes_);
    }

private:
    Tape tape_;
    bool active_ = false;
};

}  // namespace vlm::state
