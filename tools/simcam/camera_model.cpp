#include "camera_model.h"

namespace simcam {

namespace {

// Sensor registers the model interprets.
constexpr uint32_t kRegWindowHeight = 3;
constexpr uint32_t kRegWindowWidth = 4;
constexpr uint32_t kRegSensorMode = 7;
constexpr uint32_t kRegExposure = 9;
constexpr uint32_t kRegPixelClock = 10;
constexpr uint32_t kRegRowReduction = 34;
constexpr uint32_t kRegGain = 53;
constexpr uint16_t kSensorActive = 2;
constexpr uint16_t kPixelClockFast = 0x8000;

// Exposure and gain at which the chart reads its nominal values: the
// module's defaults (300 rows, gain code 20, register value 28).
constexpr uint32_t kNominalRows = 300;
constexpr uint32_t kNominalGainEighths = 28;

// The sensor's colour filters pass less red and blue than green; the
// module's default white balance gains (105 and 122 for 64) undo this.
constexpr uint32_t kRedResponse = 64 * 1024 / 105;
constexpr uint32_t kBlueResponse = 64 * 1024 / 122;

constexpr uint8_t kHotPixel = 255;

struct DefectSpot {
    uint16_t x;
    uint16_t y;
};

// Factory defect lists per size, in raw coordinates.
constexpr DefectSpot kFactoryDefects[3][5] = {
    {{100, 200}, {517, 33}, {1200, 901}, {1999, 1400}, {640, 768}},
    {{50, 100}, {258, 17}, {600, 450}, {1000, 700}, {320, 384}},
    {{31, 62}, {161, 11}, {375, 281}, {600, 450}, {200, 240}},
};

void Fill(void* destination, uint8_t value, uint32_t length)
{
    uint8_t* p = static_cast<uint8_t*>(destination);
    for (uint32_t i = 0; i < length; ++i)
        p[i] = value;
}

uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Gain in eighths for a value of register 53 as the module writes it.
uint32_t GainEighths(uint16_t reg)
{
    if (reg <= 0x40)
        return reg == 0 ? 8 : reg;
    if (reg < 0x100)
        return 32 + (reg > 80 ? (reg - 80u) * 2 : 0);
    return 64 + (reg >> 8) * 2u;
}

uint32_t Reduction(uint16_t reg)
{
    switch (reg & 0x0F) {
    case 1: return 2;
    case 2: return 3;
    default: return 1;
    }
}

struct Rgb {
    uint8_t r, g, b;
};

// The chart, upright, in thousandths of the picture: an orientation marker
// at the top left, six colour patches in the centre, a grey ramp near the
// bottom, on a mid-grey ground.
Rgb ChartColour(uint32_t u, uint32_t v)
{
    if (u >= 30 && u < 130 && v >= 40 && v < 170)
        return {230, 230, 230};
    if (v >= 760 && v < 900) {
        const uint8_t level = static_cast<uint8_t>(16 + u * 219 / 1000);
        return {level, level, level};
    }
    static constexpr Rgb kPatches[2][3] = {
        {{200, 40, 40}, {40, 180, 40}, {40, 40, 200}},
        {{40, 180, 200}, {200, 40, 200}, {220, 200, 40}},
    };
    static constexpr uint32_t kColumns[3] = {250, 425, 600};
    static constexpr uint32_t kRows[2] = {250, 475};
    for (uint32_t row = 0; row < 2; ++row) {
        if (v < kRows[row] || v >= kRows[row] + 200)
            continue;
        for (uint32_t col = 0; col < 3; ++col)
            if (u >= kColumns[col] && u < kColumns[col] + 150)
                return kPatches[row][col];
    }
    return {110, 110, 110};
}

int32_t SizeIndexOf(uint32_t width)
{
    switch (width) {
    case 2048: return 0;
    case 1024: return 1;
    case 640: return 2;
    default: return kNone;
    }
}

uint32_t FrameBytes(const CameraModel* model) { return model->frame.width * model->frame.height; }

void StartFrame(CameraModel* model, const SensorParams& params)
{
    model->frameActive = true;
    model->frame.number = model->nextNumber;
    model->frame.width = params.width;
    model->frame.height = params.height;
    model->frame.exposureRows = params.exposureRows;
    model->frame.gainRegister = params.gainRegister;
    model->frameOffset = 0;
    model->readsInFrame = 0;
    ++model->framesStarted;

    const uint32_t bytes = FrameBytes(model);
    const int32_t ordinal = static_cast<int32_t>(model->frame.ordinal);
    uint32_t length = bytes;
    // The chunk the module reads at this size.
    const uint32_t chunk = params.width == 2048 ? 0x80000u : params.width == 640 ? 0x14000u : 0x20000u;
    if (model->plan.dropChunk == ordinal)
        length = bytes > chunk ? bytes - chunk : 0;
    if (model->plan.extraChunk == ordinal)
        length = bytes + chunk;
    if (model->plan.wrongFinal == ordinal)
        length = bytes + 100;
    model->frameLength = length;
    if ((model->faults & kFaultJoinMidFrame) && ordinal == 0)
        model->frameOffset = bytes / 2;

    if (model->sceneWidth != params.width || model->sceneHeight != params.height) {
        BuildScene(model, model->scene, params.width, params.height);
        model->sceneWidth = params.width;
        model->sceneHeight = params.height;
    }
    BuildResponse(params.exposureRows, params.gainRegister, model->lut);
}

void StopStreaming(CameraModel* model)
{
    model->streaming = false;
    model->frameActive = false;
}

bool VendorRequest(CameraModel* model, const uint8_t* block, uint8_t* output, uint32_t outputBytes,
                   uint32_t* returned, uint64_t nowUs)
{
    const uint8_t direction = block[0];
    const uint8_t request = block[4];
    const uint16_t value = ReadLe16(block + 6);
    const uint16_t index = ReadLe16(block + 8);
    const uint8_t status = (model->faults & kFaultBadStatus) ? 0 : kStatusOk;

    switch (request) {
    case 0x0B:  // write a sensor register
        if (direction != 1 || outputBytes < 1)
            return false;
        if (status == kStatusOk && index < 256)
            model->registers[index] = value;
        output[0] = status;
        *returned = 1;
        return true;
    case 0x0A:  // chip version
    case 0x11:  // configuration word
    {
        if (direction != 1 || outputBytes < 3)
            return false;
        const uint16_t word = request == 0x0A ? model->chipVersion : ModelReadConfigWord(model, index);
        output[0] = static_cast<uint8_t>(word >> 8);
        output[1] = static_cast<uint8_t>(word & 0xFF);
        output[2] = status;
        *returned = 3;
        return true;
    }
    case 0x01:  // stream control
        if (direction != 0 || index != 15)
            return false;
        if (value < 32 && (model->streamControlFailMask & (1u << value)))
            return false;
        if (value == 3) {
            const SensorParams params = ModelSensorParams(model);
            model->streaming = true;
            model->frameActive = false;
            model->frame.ordinal = 0;
            model->nextNumber = 0;
            model->framesDropped = 0;
            model->nextReadyUs = nowUs + params.periodUs;
        } else {
            StopStreaming(model);
        }
        return true;
    default:
        return false;
    }
}

}  // namespace

void ModelInit(CameraModel* model, uint8_t* sceneBuffer)
{
    Fill(model, 0, sizeof *model);
    model->chipVersion = kDefaultChipVersion;
    model->plan = FramePlan{};
    model->scene = sceneBuffer;
    for (uint32_t i = 0; i < kConfigBytes / 2; ++i)
        model->config[i] = 0xFFFF;
    ModelWriteConfigWord(model, 0x24C0, 0xAA22);
    for (uint16_t s = 0; s < 3; ++s) {
        ModelWriteConfigWord(model, static_cast<uint16_t>(0x24C4 + 4 * s), static_cast<uint16_t>(s * 0x0101));
        ModelWriteConfigWord(model, static_cast<uint16_t>(0x24C6 + 4 * s), 5);
        for (uint16_t i = 0; i < 5; ++i) {
            const uint16_t entry = static_cast<uint16_t>(0x2500 + 400 * s + 4 * i);
            ModelWriteConfigWord(model, entry, kFactoryDefects[s][i].x);
            ModelWriteConfigWord(model, static_cast<uint16_t>(entry + 2), kFactoryDefects[s][i].y);
        }
    }
}

void ModelWriteConfigWord(CameraModel* model, uint16_t address, uint16_t word)
{
    if (address / 2u < kConfigBytes / 2)
        model->config[address / 2u] = word;
}

uint16_t ModelReadConfigWord(const CameraModel* model, uint16_t address)
{
    return address / 2u < kConfigBytes / 2 ? model->config[address / 2u] : 0xFFFF;
}

bool ModelControl(CameraModel* model, uint32_t code, const uint8_t* input, uint32_t inputBytes, uint8_t* output,
                  uint32_t outputBytes, uint32_t* returned, uint64_t nowUs)
{
    *returned = 0;
    if (model->faults & (kFaultVanished | kFaultFailControl))
        return false;
    if (code == kIoctlPipeArm) {
        if (inputBytes != 2 || input[0] != 0x01 || input[1] != 0x00)
            return false;
        model->pipeArmed = true;
        return true;
    }
    if (code != kIoctlVendorRequest || inputBytes != 10 || outputBytes > 3)
        return false;
    return VendorRequest(model, input, output, outputBytes, returned, nowUs);
}

SensorParams ModelSensorParams(const CameraModel* model)
{
    const uint16_t* reg = model->registers;
    const uint32_t reduction = Reduction(reg[kRegRowReduction]);
    uint32_t width = (reg[kRegWindowWidth] + 1u) / reduction;
    uint32_t height = (reg[kRegWindowHeight] + 1u) / reduction;
    if (width == 0 || height == 0 || width > kMaxWidth || height > kMaxHeight || (width & 1) || (height & 1)) {
        width = kMaxWidth;
        height = kMaxHeight;
    }
    SensorParams params{};
    params.width = width;
    params.height = height;
    params.exposureRows = reg[kRegExposure] == 0 ? 1 : reg[kRegExposure];
    params.gainRegister = reg[kRegGain];
    params.fastClock = reg[kRegPixelClock] == kPixelClockFast;
    const uint32_t lines = height + 25 > params.exposureRows ? height + 25 : params.exposureRows;
    const uint32_t lineClocks = width >= 1024 ? (params.fastClock ? 2560 : 2304) : (params.fastClock ? 2432 : 2176);
    params.periodUs = static_cast<uint64_t>(lines) * lineClocks / (params.fastClock ? 48 : 24);
    return params;
}

ReadOutcome ModelRead(CameraModel* model, uint8_t* destination, uint32_t length, uint64_t nowUs)
{
    if (model->faults & kFaultVanished)
        return {ReadStatus::Failed, 0, 0};
    if (!model->frameActive) {
        if (!model->streaming || model->registers[kRegSensorMode] != kSensorActive)
            return {ReadStatus::Stalled, 0, 0};
        if (model->plan.stallFrom != kNone && static_cast<int32_t>(model->frame.ordinal) >= model->plan.stallFrom)
            return {ReadStatus::Stalled, 0, 0};
        if (nowUs < model->nextReadyUs)
            return {ReadStatus::NotYet, 0, model->nextReadyUs};
        const SensorParams params = ModelSensorParams(model);
        // Frames nobody read in time are lost; the newest complete one is sent.
        if (nowUs >= model->nextReadyUs + params.periodUs && params.periodUs > 0) {
            const uint64_t stale = (nowUs - model->nextReadyUs) / params.periodUs;
            model->nextNumber += static_cast<uint32_t>(stale);
            model->framesDropped += static_cast<uint32_t>(stale);
            model->nextReadyUs += stale * params.periodUs;
        }
        StartFrame(model, params);
        model->nextReadyUs += params.periodUs;
        ++model->nextNumber;
    }

    const uint32_t readIndex = model->readsInFrame++;
    if (model->plan.failRead == static_cast<int32_t>(model->frame.ordinal) && model->plan.failReadIndex == readIndex)
        return {ReadStatus::Failed, 0, 0};

    const uint32_t remaining = model->frameLength > model->frameOffset ? model->frameLength - model->frameOffset : 0;
    const uint32_t bytes = Min(length, remaining);
    FillFrameBytes(model->scene, model->lut, model->frame.width, model->frame.height, model->frame.number,
                   model->frameOffset, destination, bytes);
    model->frameOffset += bytes;
    if (bytes < length) {
        // A short or zero-length transfer ends the frame.
        model->frameActive = false;
        ++model->frame.ordinal;
    }
    return {ReadStatus::Done, bytes, 0};
}

void BuildResponse(uint16_t exposureRows, uint16_t gainRegister, uint8_t* lut)
{
    const uint64_t scale = static_cast<uint64_t>(exposureRows) * GainEighths(gainRegister);
    const uint64_t nominal = static_cast<uint64_t>(kNominalRows) * kNominalGainEighths;
    for (uint32_t v = 0; v < 256; ++v) {
        const uint64_t out = v * scale / nominal;
        lut[v] = static_cast<uint8_t>(out > 255 ? 255 : out);
    }
}

void BuildScene(const CameraModel* model, uint8_t* scene, uint32_t width, uint32_t height)
{
    // The lens turns the picture upside down and left to right: raw row 0 is
    // the bottom of the scene and raw column 0 its right edge.
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t v = (height - 1 - y) * 1000 / height;
        uint8_t* row = scene + y * width;
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t u = (width - 1 - x) * 1000 / width;
            const Rgb colour = ChartColour(u, v);
            uint32_t value;
            if ((y & 1) == (x & 1))
                value = colour.g;
            else if ((y & 1) == 0)
                value = colour.r * kRedResponse >> 10;
            else
                value = colour.b * kBlueResponse >> 10;
            row[x] = static_cast<uint8_t>(value);
        }
    }
    const int32_t size = SizeIndexOf(width);
    if (size == kNone || ModelReadConfigWord(model, 0x24C0) != 0xAA22)
        return;
    const uint16_t count = ModelReadConfigWord(model, static_cast<uint16_t>(0x24C6 + 4 * size));
    for (uint32_t i = 0; i < count && i < 100; ++i) {
        const uint16_t entry = static_cast<uint16_t>(0x2500 + 400 * size + 4 * i);
        const uint32_t x = ModelReadConfigWord(model, entry);
        const uint32_t y = ModelReadConfigWord(model, static_cast<uint16_t>(entry + 2));
        if (x < width && y < height)
            scene[y * width + x] = kHotPixel;
    }
}

void FillFrameBytes(const uint8_t* scene, const uint8_t* lut, uint32_t width, uint32_t height, uint32_t number,
                    uint32_t offset, uint8_t* destination, uint32_t length)
{
    const uint32_t frameBytes = width * height;
    uint32_t done = 0;
    while (done < length) {
        const uint32_t position = (offset + done) % frameBytes;
        const uint32_t y = position / width;
        const uint32_t x = position % width;
        const uint32_t run = Min(width - x, length - done);
        const uint8_t* source = scene + position;
        uint8_t* out = destination + done;
        for (uint32_t i = 0; i < run; ++i)
            out[i] = lut[source[i]];
        if (y >= kStampRow && y < kStampRow + kStampCell) {
            for (uint32_t i = 0; i < run; ++i) {
                const uint32_t column = x + i;
                if (column < kStampColumn || column >= kStampColumn + kStampBits * kStampCell)
                    continue;
                const uint32_t bit = (column - kStampColumn) / kStampCell;
                out[i] = (number >> bit) & 1 ? 255 : 0;
            }
        }
        done += run;
    }
}

}  // namespace simcam
