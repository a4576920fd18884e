#include "cursor.h"

#include <numeric>

namespace zentra {

std::size_t Cursor::LiveCount() const {
    if (!rows->AnyDeleted()) return Count();
    std::size_t n = 0;
    for (std::size_t i = 0, count = Count(); i < count; ++i) n += !rows->IsDeleted(RowAt(static_cast<long>(i)));
    return n;
}

long Cursor::IndexOf(std::size_t row) const {
    if (!hasView) return row < rows->RowCount() ? static_cast<long>(row) : -1;
    for (std::size_t i = 0; i < view.size(); ++i)
        if (view[i] == row) return static_cast<long>(i);
    return -1;
}

void Cursor::Settle(long index, int step) {
    const long count = static_cast<long>(Count());
    while (index >= 0 && index < count && rows->IsDeleted(RowAt(index))) index += step;
    position = index < 0 ? -1 : index > count ? count : index;
}

void Cursor::MaterializeView() {
    if (hasView) return;
    view.resize(rows->RowCount());
    std::iota(view.begin(), view.end(), std::size_t{0});
    hasView = true;
}

}  // namespace zentra
