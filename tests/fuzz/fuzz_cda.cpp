// ".cda" CD track descriptors.
#include "fuzz/FuzzSupport.h"
#include "platform/bass/Backends.h"

using namespace quelvox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bass::CdaDescriptor cda;
    if (bass::ParseCdaDescriptor(data, size, cda)) {
        fuzz::Check(size == bass::kCdaDescriptorBytes);
        fuzz::Check(cda.track >= 1 && cda.track <= 99);
        fuzz::Check(cda.sectors > 0 && cda.startSector + cda.sectors <= 100u * 60u * 75u);
    }
    return 0;
}
