#include <clocale>

#include "orva.h"

namespace orva {

int Main(int, char**) {
    setlocale(LC_ALL, "");
    return 1;
}

}  // namespace orva
