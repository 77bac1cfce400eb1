#include "IO/KorvelIO/IPCTools.h"

namespace Korvel {
namespace Core {

std::string GeneratePipeName()
{
    return GenerateTempFileName();
}

}  // namespace Core
}  // namespace Korvel
