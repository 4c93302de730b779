// The choice of the encoders' inner loops: vector ones where the processor has them, else scalar.
#include "EncoderKernels.h"

#include "ScalarEncoders.h"
#include "VectorEncoders.h"

namespace {

const EncoderKernels SCALAR = {"scalar", BodyEncodings::extraDecimalDigitsScalar, PercentEncoding::encodedLengthScalar,
                               PercentEncoding::encodeIntoScalar};

EncoderKernels chooseFastest() {
    EncoderKernels kernels = SCALAR;
#ifdef TW_X86_VECTORS
    kernels.name = "sse2";
    kernels.extraDecimalDigits = VectorEncoders::extraDecimalDigitsSse2;
    if (VectorEncoders::hasByteShuffles()) {
        kernels.name = "sse2+ssse3";
        kernels.percentEncodedLength = VectorEncoders::encodedLengthSsse3;
        kernels.percentEncodeInto = VectorEncoders::encodeIntoSsse3;
    }
#endif
    return kernels;
}

}  // namespace

const EncoderKernels& encoderKernels(KernelChoice choice) {
    if (choice == KernelChoice::Scalar) return SCALAR;
    static const EncoderKernels FASTEST = chooseFastest();
    return FASTEST;
}
