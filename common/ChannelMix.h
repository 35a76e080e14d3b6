// How the channels of one layout become those of another: placement by
// position into a wider target, and folds to stereo, with weights that never
// let a mix of samples within full scale leave it.
#pragma once

#include "common/AudioBlock.h"

#include <cstdint>

namespace quelvox {

// weight[t][s] is the share of source channel s (in the source layout's
// order) in target channel t (in the target layout's order).
//
// A source position the target has goes there alone. A side channel the
// target lacks goes to the back channel of its side (and a back channel to
// the side one): at 1 when the source has nothing at that position itself,
// else at 0.707 beside the channel already there. A back centre the target
// lacks goes to the back pair at 0.707 each, else to the side pair. Every
// other position folds into the front pair by FoldWeights. Target
// positions no source channel reaches stay silent.
//
// Then, when the weights reaching any one target channel add up to more
// than 1, all weights are divided by the largest such sum: no mix of
// samples within full scale can leave it, and the channels keep their
// balance. A mix where every source channel keeps its own position is
// therefore never scaled.
struct ChannelMix {
    int sourceChannels = 0;
    int targetChannels = 0;
    float weight[kMaxChannels][kMaxChannels] = {};
};
ChannelMix PlanChannelMix(uint64_t from, uint64_t to);

// The fold of `layout`'s channels to stereo (FL FR), as FoldToStereo does
// it: PlanChannelMix to stereo, so that the described weights are kept in
// proportion and a fold of full-scale channels never clips. Mono reaches
// both sides unchanged.
ChannelMix PlanStereoFold(uint64_t layout);

// Of `count` candidate layouts (channel masks), the one of `channels`
// channels that shares the most positions with `wanted`, a side position
// counting as the back one of its side; the first such on a tie. 0 when
// none has that many channels.
uint64_t ClosestLayout(uint64_t wanted, int channels, const uint64_t* candidates, int count);

}  // namespace quelvox
