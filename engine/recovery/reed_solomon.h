// The Reed-Solomon code of the PAR 2.0 format over GF(2^16) (see field.h).
//
// Input slice k (numbered over the whole set, in the order of its files) has a constant c_k, 2
// to the power of the k-th of the numbers 1, 2, 4, 7, 8, 11, ... that are divisible by none of
// 3, 5, 17 and 257 (the factors of 65535), so that every constant generates the field. The
// recovery slice of exponent e holds, word by word,
//
//     R_e = sum over k of c_k^e * D_k
//
// and any m recovery slices rebuild any m lost input slices, by solving that system for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "engine/recovery/field.h"

namespace splitter::rs {

// The logarithms of the constants of the first `count` input slices.
std::vector<std::uint32_t> InputConstantLogs(std::size_t count);

// c^e for the input constant of logarithm `constantLog` and the exponent e.
std::uint16_t Factor(std::uint32_t constantLog, std::uint32_t exponent);

using Matrix = std::vector<std::vector<std::uint16_t>>;

// The inverse of the square matrix, or nullopt when it has none.
std::optional<Matrix> Invert(Matrix a);

// How to rebuild lost input slices (their constants' logarithms `lost`) from as many recovery
// slices (their `exponents`) and the input slices that are there: each lost slice j is
//
//     sum over i of recover[j][i] * R_i  +  sum over present k of present(k)[j] * D_k.
//
// nullopt when those recovery slices cannot rebuild those slices together.
class Solution {
public:
    static std::optional<Solution> For(const std::vector<std::uint32_t>& lost,
                                       const std::vector<std::uint32_t>& exponents);
    // The factors of the recovery slices in lost slice j.
    const std::vector<std::uint16_t>& recover(std::size_t j) const { return inverse_[j]; }
    // The factors of the present input slice of constant log `constantLog` in the lost slices
    // [first, first + count).
    std::vector<std::uint16_t> Present(std::uint32_t constantLog, std::size_t first,
                                       std::size_t count) const;

private:
    Matrix inverse_;
    std::vector<std::uint32_t> exponents_;
};

// Sums of slices times factors into a few output slices at once, out_j += f_j * in: the work of
// making recovery slices and of rebuilding lost ones. Inputs are gathered a few at a time and
// added into every output a block of bytes at a time, so that each block of the batch's inputs
// (put in the kernels' order once) and of the outputs stays in the processor's cache while it
// is multiplied into all of them; a batch is added while the next is read, on two threads that
// take its blocks in turn. The outputs are kept in the kernels' order until Finish.
class Accumulator {
public:
    // The least memory the inputs' batches take: two of 16 MiB.
    static constexpr std::size_t kLeastMemory = std::size_t{32} << 20;

    // `outputs`: zeros, of `slice` bytes each; the sums go into them.
    // `memory`: what the inputs' two batches may take together, at least kLeastMemory (and at
    // least two inputs). The more inputs a batch holds, the fewer times the outputs go through
    // the processor's caches: with 26 outputs of 4 MiB, each batch reads and writes 208 MiB of
    // them. A split of 1 GiB in 8 parts with --recovery 10 takes 0.92x the time with batches of
    // 16 that it takes with 8 (farm-bench, paired); 19 (all that 256 MiB leaves) take 1.10x
    // that of 16: more memory to fill, and batches that no longer hold whole turns of the parts.
    Accumulator(std::size_t slice, std::vector<std::vector<char>>& outputs,
                std::size_t memory = kLeastMemory);
    ~Accumulator() { Wait(); }
    Accumulator(const Accumulator&) = delete;
    Accumulator& operator=(const Accumulator&) = delete;

    // The buffer of the next input slice, whose factor in output j is factors[j]: all its
    // `slice` bytes are to be written.
    char* Next(std::vector<std::uint16_t> factors);

    // What a pass over the inputs also wants of them (their hashes): called on the adding
    // thread with each batch's inputs, in their order, from the input numbered `first` (counted
    // from 0 over all the calls of Next), while the other thread starts on the batch's sums.
    using BatchWork = std::function<void(std::size_t first, const std::vector<const char*>&)>;
    void OnEachBatch(BatchWork work) { work_ = std::move(work); }

    // Adds what was gathered, waits until it is added, and puts the outputs back in the plain
    // order.
    void Finish();

private:
    void Flush();
    void Wait() {
        if (adder_.joinable()) adder_.join();
    }
    void Add(std::size_t count, std::size_t first);
    // The batch's bytes [at, at + kBlock) into every output, through `scratch`.
    void AddBlock(std::size_t at, std::size_t count, std::uint8_t* scratch);

    static constexpr std::size_t kMaxBatch = 16;
    static constexpr std::size_t kBlock = 4096;  // a multiple of the kernels' 64
    const std::size_t slice_;
    const std::size_t capacity_;
    std::vector<std::unique_ptr<char[]>> filling_;
    std::vector<std::unique_ptr<char[]>> adding_;
    std::vector<std::vector<char>>& outputs_;
    std::vector<std::vector<std::uint16_t>> factors_;  // of the inputs gathered
    BatchWork work_;
    std::size_t gathered_ = 0;                    // inputs before the batch being filled
    std::optional<gf16::ManyProducts> products_;  // of the batch being added
    const gf16::Kernel kernel_ = gf16::BestKernel();
    // A block of each input of a batch in the kernels' order, for each of the two threads.
    std::vector<std::uint8_t> scratch_[2];
    std::thread adder_;
};

}  // namespace splitter::rs
