// One parameter of a command, as a _ParameterPtr refers to it. Shared by the CADOParameter that
// built it and every command it was appended to.
#pragma once

#include "zentra/dataaccess.h"

namespace zentra {

struct ParameterCore {
    CString name;
    int type = adEmpty;            // DataTypeEnum; adEmpty / adVariant: taken from the value
    int direction = adParamInput;  // ParameterDirectionEnum
    long size = 0;                 // characters for text, bytes for binary; 0 = as long as the value
    int precision = 0;             // numeric: digits in all (0 = as the value needs)
    int scale = 0;                 // numeric: digits after the point
    _variant_t value;              // input value; output values arrive here after Execute
};

}  // namespace zentra
