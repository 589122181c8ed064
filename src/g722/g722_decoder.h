// The library's own ITU-T G.722 sub-band ADPCM decoder.
#pragma once

#include <cstdint>

struct G722Band {
    int16_t s;
    int32_t sz;
    int8_t sg1;
    int8_t sg2;
    int16_t r1;
    int16_t a1;
    int16_t a2;
    int32_t d[6];
    int16_t b[6];
    int16_t nb;
    int16_t det;
};

class G722Decoder {
public:
    G722Decoder();
    // 0 on success, -1 for unsupported parameters (one channel; 48000, 56000 or 64000
    // bit/s; 8000 or 16000 Hz).
    int Initialize(int sample_rate, int bit_rate, int channels);
    // Decodes all length code words; *out_bytes receives the bytes written to out
    // (4 per code word at 16000 Hz, 2 at 8000 Hz). Returns length.
    int Decode(int16_t* out, int* out_bytes, const uint8_t* data, int length);
    int sample_rate_hz() const { return sample_rate; }
    int bits_per_code_word() const { return code_bits; }
    const G722Band& lower_band() const { return low_band; }
    const G722Band& higher_band() const { return high_band; }

    // Shared predictor step of both bands, for one quantised difference.
    static void UpdatePredictor(G722Band& band, int dq);
    // Scale-factor and predictor adaptation of the lower band for its 4-bit code.
    static void AdaptLowBand(G722Band& band, int code4);
    // The same for the higher band, given its quantised difference and 2-bit code.
    static void AdaptHighBand(G722Band& band, int dh, int code2);

private:
    template <int kCodeBits, bool kWide>
    void DecodeRun(int16_t* out, const uint8_t* data, int length);

    int code_bits;
    int16_t qmf_line[24];
    G722Band low_band;
    G722Band high_band;
    int bit_rate;
    int sample_rate;
    int channels;
};
