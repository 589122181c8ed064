// The suites' way to the parts behind a decoder object, for checks the public interface
// cannot make (which scaler is built, what a parser holds). Each part is used through its
// own interface.
#pragma once

#include "bitstream/avc_config.h"
#include "decoder/decoder_impl.h"

namespace qvtest {

inline QVDecoder::Impl& Parts(QVDecoder& decoder) { return QVDecoderInternals::Of(decoder); }
inline const QVDecoder::Impl& Parts(const QVDecoder& decoder) { return QVDecoderInternals::Of(decoder); }

}  // namespace qvtest
