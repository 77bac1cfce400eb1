// One call into each sibling library whose USE_ macro is set: built once per CMake target with
// only that target linked, and once with all of them through pkg-config.
#include <iostream>
#include <string>

#ifdef USE_ZephExport
#include "ZephExport/Export.h"
ZEPH_API int Exported()
{
    return 0;
}
#endif
#ifdef USE_ZephPointer
#include "ZephPointer/RefCountImpl.h"
#endif
#ifdef USE_ZephException
#include "ZephException/CallStack.h"
#endif
#ifdef USE_ZephFilesystem
#include "ZephFilesystem/ioPath.h"
#endif
#ifdef USE_ZephHash
#include "ZephHash/MD5Generate.h"
#endif

int main()
{
    int failures = 0;
#ifdef USE_ZephExport
    failures += Exported();
#endif
#ifdef USE_ZephPointer
    Korvel::RefCountImpl count;
    failures += count.AddRefImpl() != 1 || count.ReleaseImpl() != 0;
#endif
#ifdef USE_ZephException
    {
        Korvel::Core::StackDebugInfo::Descr scope("siblings.cpp", "ConsumerScope");
        failures += Korvel::GetCallStack().find("ConsumerScope") == std::string::npos;
    }
#endif
#ifdef USE_ZephFilesystem
    failures += Korvel::ioPath("a/b").parent_path().utf8string() != "a";
#endif
#ifdef USE_ZephHash
    failures += Korvel::Core::MD5Generate({'a', 'b'}, "c") != "900150983cd24fb0d6963f7d28e17f72";
    Korvel::Core::MD5Hasher hasher;
    const unsigned char ab[] = {'a', 'b'};
    hasher.Add(ab, sizeof ab);
    hasher.Add("c");
    failures += hasher.Finish() != "900150983cd24fb0d6963f7d28e17f72";
#endif
    std::cout << "siblings " << (failures == 0 ? "ok" : "FAILED") << "\n";
    return failures;
}
