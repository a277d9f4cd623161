// The second translation unit of MethodEventTest.ThunksOfSameNamedLocalClassesStayApart: a class
// with the same name and member as one in ClassesTest.cpp, each in its own anonymous namespace.
#include "MethodEventOtherUnit.h"

namespace {

class TSameNamedHandler {
public:
    int Calls = 0;
    int Copy(int x) { return ++Calls * 2000 + x; }
    int Peek(int x) const { return 2000 + 10 * x; }
};

} // namespace

TMethod<int(int)> OtherUnitCopyEvent() {
    static TSameNamedHandler handler;
    return MakeEvent<&TSameNamedHandler::Copy>(&handler);
}

TMethod<int(int)> OtherUnitPeekEvent() {
    static const TSameNamedHandler handler;
    return MakeEvent<&TSameNamedHandler::Peek>(&handler);
}

int CallInOtherUnit(TMethod<int(int)> Event, int x) {
    return Event(x);
}
