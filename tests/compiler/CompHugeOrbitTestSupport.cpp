#include "CompHugeOrbitTestSupport.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include "CompEntriesTestSupport.h"

TReferenceOrbit ReadReferenceOrbit() {
    TReferenceOrbit orbit;
    std::ifstream file(CompilerDataPath("CompHugeOrbit_reference.txt"));
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string key, re, im;
        if (!(words >> key >> re >> im))
            continue;
        if (key == "c") {
            orbit.CRe = re;
            orbit.CIm = im;
        } else {
            orbit.Iterates.push_back({std::stoi(key), re, im});
        }
    }
    return orbit;
}

// |Value - Reference| as an 80-bit number, the difference formed in Value's precision.
long double Distance(const THugeFloatBase &Value, const std::string &Reference) {
    THugeFloat difference(Value.FPrecision), reference(Value.FPrecision);
    difference.Assign(Value);
    reference.SetText(Reference);
    difference.Subtract(reference);
    return std::fabs(difference.GetExtended());
}
