// The MilkShape 3D reader: every count and length in the file is the fuzzer's to choose. The keys are
// read back afterwards so that a record the reader sized but never filled shows up under the
// sanitizers.

#include "animation/MsModel.h"
#include "math/FatalError.h"

#include <cstdint>
#include <vector>

namespace {

using namespace Raytracer;

float sumKeys(const std::vector<MsKeyframe>& keys) {
    float sum = 0.0f;
    for (const MsKeyframe& key : keys) {
        sum += key.time + key.value[0] + key.value[1] + key.value[2];
    }
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        msModel model;
        if (!model.load(std::vector<std::uint8_t>(data, data + size), "fuzz.ms3d")) {
            return 0;
        }
        volatile float sink = model.animationFps;
        for (const MsJoint& joint : model.joints) {
            sink = sink + sumKeys(joint.rotationKeys) + sumKeys(joint.positionKeys) +
                   static_cast<float>(joint.name.size() + joint.parentName.size() + joint.comment.size());
        }
    } catch (const FatalError&) {
    }
    return 0;
}
