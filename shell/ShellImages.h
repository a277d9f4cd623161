// Image lists made from the program's bitmap strips (16 x 16 pictures side by side on magenta).
#pragma once

#include <memory>

#include "Graphics.h"

// The strip of that resource name as a list of 16 x 16 images; an empty list when the program
// carries no such strip (the controls then show no pictures).
std::unique_ptr<TImageList> LoadImageStrip(const char *ResourceName);
