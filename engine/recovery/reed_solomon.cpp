#include "engine/recovery/reed_solomon.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <utility>

namespace splitter::rs {
namespace {

std::uint8_t* Bytes(std::vector<char>& v) {
    return reinterpret_cast<std::uint8_t*>(v.data());
}

}  // namespace

std::vector<std::uint32_t> InputConstantLogs(std::size_t count) {
    std::vector<std::uint32_t> logs;
    logs.reserve(count);
    for (std::uint32_t n = 1; logs.size() < count && n < gf16::kOrder; ++n)
        if (n % 3 != 0 && n % 5 != 0 && n % 17 != 0 && n % 257 != 0) logs.push_back(n);
    return logs;
}

std::uint16_t Factor(std::uint32_t constantLog, std::uint32_t exponent) {
    // 2 generates a group of 65535 elements: exponents of 2 count modulo that order.
    return gf16::Exp(
        static_cast<std::uint32_t>((std::uint64_t{constantLog} * exponent) % gf16::kOrder));
}

std::optional<Matrix> Invert(Matrix a) {
    // Gauss-Jordan elimination on [a | I].
    const std::size_t m = a.size();
    for (std::size_t i = 0; i < m; ++i) {
        a[i].resize(2 * m, 0);
        a[i][m + i] = 1;
    }
    for (std::size_t col = 0; col < m; ++col) {
        std::size_t pivot = col;
        while (pivot < m && a[pivot][col] == 0) ++pivot;
        if (pivot == m) return std::nullopt;
        std::swap(a[pivot], a[col]);
        const std::uint16_t inverse = gf16::Inverse(a[col][col]);
        for (std::uint16_t& x : a[col]) x = gf16::Multiply(x, inverse);
        for (std::size_t row = 0; row < m; ++row) {
            if (row == col || a[row][col] == 0) continue;
            const std::uint16_t factor = a[row][col];
            for (std::size_t k = col; k < 2 * m; ++k)
                a[row][k] ^= gf16::Multiply(factor, a[col][k]);
        }
    }
    for (std::vector<std::uint16_t>& row : a)
        row.erase(row.begin(), row.begin() + static_cast<long>(m));
    return a;
}

std::optional<Solution> Solution::For(const std::vector<std::uint32_t>& lost,
                                      const std::vector<std::uint32_t>& exponents) {
    // R_i - sum over present k of c_k^e_i D_k = sum over lost j of c_j^e_i D_j: invert the
    // lost slices' factors.
    Matrix a(exponents.size(), std::vector<std::uint16_t>(lost.size()));
    for (std::size_t i = 0; i < exponents.size(); ++i)
        for (std::size_t j = 0; j < lost.size(); ++j) a[i][j] = Factor(lost[j], exponents[i]);
    auto inverse = Invert(std::move(a));
    if (!inverse) return std::nullopt;
    Solution s;
    s.inverse_ = std::move(*inverse);
    s.exponents_ = exponents;
    return s;
}

std::vector<std::uint16_t> Solution::Present(std::uint32_t constantLog, std::size_t first,
                                             std::size_t count) const {
    // Subtracting is adding in this field.
    std::vector<std::uint16_t> byRecovery(exponents_.size());
    for (std::size_t i = 0; i < exponents_.size(); ++i)
        byRecovery[i] = Factor(constantLog, exponents_[i]);
    std::vector<std::uint16_t> factors(count, 0);
    for (std::size_t j = 0; j < count; ++j)
        for (std::size_t i = 0; i < exponents_.size(); ++i)
            factors[j] ^= gf16::Multiply(inverse_[first + j][i], byRecovery[i]);
    return factors;
}

Accumulator::Accumulator(std::size_t slice, std::vector<std::vector<char>>& outputs,
                         std::size_t memory)
    : slice_(slice),
      capacity_(std::clamp<std::size_t>(std::max(memory, kLeastMemory) / 2 / slice, 1, kMaxBatch)),
      outputs_(outputs) {
    // Left as they come: every input is written whole before it is added. The outputs are zeros,
    // which are in the kernels' order as they are.
    for (std::size_t b = 0; b < capacity_; ++b) {
        filling_.emplace_back(new char[slice]);
        adding_.emplace_back(new char[slice]);
    }
    for (std::vector<std::uint8_t>& scratch : scratch_) scratch.resize(capacity_ * kBlock);
}

void Accumulator::Finish() {
    Flush();
    Wait();
    for (std::vector<char>& out : outputs_) gf16::FromKernelOrder(Bytes(out), slice_);
}

char* Accumulator::Next(std::vector<std::uint16_t> factors) {
    if (factors_.size() == capacity_) Flush();
    factors_.push_back(std::move(factors));
    return filling_[factors_.size() - 1].get();
}

void Accumulator::Flush() {
    Wait();
    std::swap(filling_, adding_);
    const std::size_t count = factors_.size();
    std::vector<std::uint16_t> byOutput;
    byOutput.reserve(outputs_.size() * count);
    for (std::size_t j = 0; j < outputs_.size(); ++j)
        for (const std::vector<std::uint16_t>& f : factors_) byOutput.push_back(f[j]);
    products_.emplace(byOutput, outputs_.size(), count, kernel_);
    factors_.clear();
    const std::size_t first = gathered_;
    gathered_ += count;
    if (count > 0) adder_ = std::thread([this, count, first] { Add(count, first); });
}

void Accumulator::Add(std::size_t count, std::size_t first) {
    // The blocks go to whichever thread is free: the second starts on them at once, this one
    // once the inputs' other work (a hash, in order) is done.
    // With no outputs (a pass that only hashes its inputs) there are no sums to make.
    const std::size_t blocks = outputs_.empty() ? 0 : (slice_ + kBlock - 1) / kBlock;
    std::atomic<std::size_t> next{0};
    const auto work = [&](std::uint8_t* scratch) {
        for (std::size_t k; (k = next.fetch_add(1)) < blocks;) AddBlock(k * kBlock, count, scratch);
    };
    std::thread second;
    if (blocks > 1) {
        try {
            second = std::thread(work, scratch_[1].data());
        } catch (const std::system_error&) {
            // No second thread: this one does it all.
        }
    }
    if (work_) {
        std::vector<const char*> inputs;
        for (std::size_t b = 0; b < count; ++b) inputs.push_back(adding_[b].get());
        work_(first, inputs);
    }
    work(scratch_[0].data());
    if (second.joinable()) second.join();
}

void Accumulator::AddBlock(std::size_t at, std::size_t count, std::uint8_t* scratch) {
    const std::size_t n = std::min(kBlock, slice_ - at);
    // The inputs are put in the kernels' order here, unless the kernel does it as it loads them.
    const bool plain = products_->TakesPlain();
    std::vector<const std::uint8_t*> src;
    for (std::size_t b = 0; b < count; ++b) {
        const auto* in = reinterpret_cast<const std::uint8_t*>(adding_[b].get()) + at;
        if (!plain) {
            std::uint8_t* ordered = scratch + b * kBlock;
            std::memcpy(ordered, in, n);
            gf16::ToKernelOrder(ordered, n);
            in = ordered;
        }
        src.push_back(in);
    }
    std::vector<std::uint8_t*> dst;
    for (std::vector<char>& out : outputs_) dst.push_back(Bytes(out) + at);
    products_->MultiplyAdd(dst.data(), src.data(), n, plain);
}

}  // namespace splitter::rs
