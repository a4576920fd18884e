// How a result is printed: the options the printer takes and the shell keeps among its settings.
#pragma once

namespace orva {

// How a result is laid out; the numbers are those of the settings file.
enum class PrintLayout { Table = 0, List = 1 };

struct PrintOptions {
    PrintLayout layout = PrintLayout::Table;
    bool truncate = false;   // table cells cut at their width instead of continued on more lines
    bool showIndex = false;  // the table starts with a column of record numbers
};

}  // namespace orva
