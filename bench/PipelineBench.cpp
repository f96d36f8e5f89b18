// Timings of the diagnosis pipeline on a 2-megapixel chest X-ray (1604 x 1248 JPEG)
// with the shipped models. Run: build/bin/orvix_bench --benchmark_repetitions=10
// --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <nlohmann/json.hpp>

#include "orvix/Console.h"
#include "orvix/DiagnosisState.h"
#include "orvix/Digest.h"
#include "orvix/Heatmap.h"
#include "orvix/ImageDecoder.h"
#include "orvix/ImagePreparation.h"
#include "orvix/ImportRun.h"
#include "orvix/Report.h"

namespace {

using namespace orvix;

const std::vector<std::uint8_t>& pictureBytes() {
    static const auto bytes = readWholeFile(ORVIX_BENCH_PICTURE).value();
    return bytes;
}

const Image& picture() {
    static const Image image = decodeImage(pictureBytes()).value();
    return image;
}

DiagnosisState& state() {
    static DiagnosisState s = [] {
        ::setenv("ORVIX_MODEL_DIR", ORVIX_SHIPPED_MODELS, 0);
        auto created = DiagnosisState::create();
        if (!created) {
            std::cerr << created.error().message << '\n';
            std::exit(2);
        }
        return std::move(created).value();
    }();
    return s;
}

PixelBuffer preparedBuffer() { return *makePixelBuffer(*redrawImage(picture())); }

void BM_ReadFile(benchmark::State& s) {
    for (auto _ : s) benchmark::DoNotOptimize(readWholeFile(ORVIX_BENCH_PICTURE));
}
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);

void BM_Decode(benchmark::State& s) {
    for (auto _ : s) benchmark::DoNotOptimize(decodeImage(pictureBytes()));
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

// The digest that each import takes of the picture's bytes (a saved report records it): this
// picture, and 20 MB, an uncompressed 16-bit DICOM film of 10 megapixels.
void BM_PictureDigest(benchmark::State& s) {
    const std::vector<std::uint8_t> film(20'000'000, 0x5a);
    const std::span<const std::uint8_t> bytes = s.range(0) == 0 ? std::span(pictureBytes()) : std::span(film);
    for (auto _ : s) benchmark::DoNotOptimize(sha256Hex(bytes));
}
BENCHMARK(BM_PictureDigest)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Preparation(benchmark::State& s) {  // redrawImage + makePixelBuffer
    for (auto _ : s) {
        auto redrawn = redrawImage(picture());
        benchmark::DoNotOptimize(makePixelBuffer(*redrawn));
    }
}
BENCHMARK(BM_Preparation)->Unit(benchmark::kMillisecond);

void BM_PredictGate(benchmark::State& s) {
    const XRayClassifier1Input input(preparedBuffer());
    const PredictionOptions options;
    for (auto _ : s) benchmark::DoNotOptimize(state().model2->prediction(input, options));
}
BENCHMARK(BM_PredictGate)->Unit(benchmark::kMillisecond);

void BM_PredictDisease(benchmark::State& s) {
    const SickClassifier1Input input(preparedBuffer());
    const PredictionOptions options;
    for (auto _ : s) benchmark::DoNotOptimize(state().model->prediction(input, options));
}
BENCHMARK(BM_PredictDisease)->Unit(benchmark::kMillisecond);

// The same network asked for its logits only: the difference to BM_PredictDisease is what the
// class maps add to the forward pass.
void BM_PredictDiseaseWithoutMaps(benchmark::State& s) {
    const auto dir = std::filesystem::temp_directory_path() / "orvix-bench-model" / "SickClassifier1.mlmodelc";
    std::filesystem::create_directories(dir);
    const auto shipped = std::filesystem::path(ORVIX_SHIPPED_MODELS) / "SickClassifier1.mlmodelc";
    std::filesystem::copy_file(shipped / "model.onnx", dir / "model.onnx",
                               std::filesystem::copy_options::overwrite_existing);
    auto meta = nlohmann::json::parse(std::ifstream(shipped / "metadata.json"));
    meta["output"].erase("classMaps");
    std::ofstream(dir / "metadata.json") << meta.dump();
    const auto model = SickClassifier1::create(dir).value();
    std::filesystem::remove_all(dir.parent_path());
    const SickClassifier1Input input(preparedBuffer());
    const PredictionOptions options;
    for (auto _ : s) benchmark::DoNotOptimize(model->prediction(input, options));
}
BENCHMARK(BM_PredictDiseaseWithoutMaps)->Unit(benchmark::kMillisecond);

const cv::Mat& shippedClassMaps() {
    static const cv::Mat maps = [] {
        const SickClassifier1Input input(preparedBuffer());
        auto output = state().model->prediction(input, PredictionOptions{}).value();
        return dynamic_cast<const ModelOutput&>(*output.provider).classMaps().clone();
    }();
    return maps;
}

void BM_ActivationMap(benchmark::State& s) {  // class maps -> the picture's map
    const ModelMetadata& m = state().model->model.metadata();
    for (auto _ : s) benchmark::DoNotOptimize(activationMap(shippedClassMaps(), m, "PNEUMONIA"));
}
BENCHMARK(BM_ActivationMap)->Unit(benchmark::kMicrosecond);

void BM_HeatmapOverlay(benchmark::State& s) {  // the window's overlay, once per picture while shown
    const auto map = activationMap(shippedClassMaps(), state().model->model.metadata(), "PNEUMONIA").value();
    for (auto _ : s) benchmark::DoNotOptimize(heatmapOverlay(picture(), map));
}
BENCHMARK(BM_HeatmapOverlay)->Unit(benchmark::kMillisecond);

void BM_HeatmapPicture(benchmark::State& s) {  // orvix-screen --heatmaps, before PNG encoding
    const auto map = activationMap(shippedClassMaps(), state().model->model.metadata(), "PNEUMONIA").value();
    for (auto _ : s) benchmark::DoNotOptimize(heatmapPicture(picture(), map));
}
BENCHMARK(BM_HeatmapPicture)->Unit(benchmark::kMillisecond);

void BM_ComposeReport(benchmark::State& s) {
    for (auto _ : s)
        benchmark::DoNotOptimize(
            composeReport("chest.jpeg", "", "X-Ray", "NORMAL", 0.97, DiseaseAnswer{0.03, 0.346, false}, Clock::now()));
}
BENCHMARK(BM_ComposeReport)->Unit(benchmark::kMillisecond);

void BM_WholeImport(benchmark::State& s) {  // read, decode, both stages, report
    setConsoleStream(nullptr);
    DiagnosisState& st = state();
    const auto outcome = ImporterOutcome::success(ORVIX_BENCH_PICTURE);
    for (auto _ : s) benchmark::DoNotOptimize(importImage(outcome, st));
    setConsoleStream(&std::cout);
}
BENCHMARK(BM_WholeImport)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
