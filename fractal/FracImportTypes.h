// What the Fractint importer knows of each built-in Fractint type beyond its formula entry.
#pragma once

#include <string>

struct TFractintType {
    const char *Name;
    // The view Fractint shows when an entry names no corners: xmin, xmax, ymin, ymax.
    const char *Corners[4];
    // False for the types that draw no escape-time image (orbits, attractors, plasma, L-systems,
    // cellular automata and the like): no formula can reproduce them.
    bool EscapeTime;
};

// The type of that lower-case name; nullptr for a name Fractint does not have.
const TFractintType *FindFractintType(const std::string &Name);
