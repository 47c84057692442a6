#include "barfile/date_stamp.h"

namespace vlmstruct {

DateTime DateStamp::dateTime() const {
    DateTime d;
    std::uint64_t key = bits_ >> 2;
    auto take = [&key](int& part) {
        part = static_cast<int>(key % 100);
        key /= 100;
    };
    take(d.second);
    take(d.minute);
    take(d.hour);
    take(d.day);
    take(d.month);
    d.year = static_cast<int>(key);
    d.hasTime = (bits_ & 2) != 0;
    d.hasSeconds = (bits_ & 1) != 0;
    return d;
}

}  // namespace vlmstruct
