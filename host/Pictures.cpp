// Pictures as the host stores them: a bitmap context with padded rows in
// desktop applications, the console buffer block with rows allocated apart in
// console and web applications. Description locks, properties, and the
// pixel helpers tests and the zpx program use.
#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "host/HostState.h"

namespace zpxhost {

namespace {

constexpr uint32_t kGuardWord = 0xA5A5A5A5u;
// The host word of a console block: any non-zero value will do.
constexpr int32_t kConsoleHostWord = 0x484F5354;
constexpr int32_t kBitsPerPixel = 32;
// What storage a picture has moved away from holds before it is freed.
constexpr uint8_t kMovedAwayByte = 0xDB;

bool ConsoleApp(AppKind app) { return app == AppKind::Console || app == AppKind::Web; }

void AllocateBitmap(PictureObject& picture, int rowPadding, int alphaInfo) {
    size_t bytesPerRow = size_t(picture.width) * 4 + size_t(rowPadding);
    picture.bytes.assign(bytesPerRow * size_t(picture.height), kPaddingSentinel);
    picture.context = std::make_unique<CGBitmapContext>();
    picture.context->data = picture.bytes.data();
    picture.context->bitsPerPixel = kBitsPerPixel;
    picture.context->width = size_t(picture.width);
    picture.context->height = size_t(picture.height);
    picture.context->bytesPerRow = bytesPerRow;
    picture.context->alphaInfo = CGImageAlphaInfo(alphaInfo);
}

// Each row is a block of its own with a guard word after its pixels, and the
// table lists the rows from the highest address down, so a reader that
// assumes rows follow each other in memory goes wrong at once.
void AllocateConsole(PictureObject& picture) {
    picture.block = std::make_unique<REALconsoleBuffer>();
    picture.block->firstWord = 0;
    picture.block->width = picture.width;
    picture.block->height = picture.height;
    picture.block->hostWord = kConsoleHostWord;
    picture.rowStorage.resize(size_t(picture.height));
    for (auto& row : picture.rowStorage) {
        row = std::make_unique<uint32_t[]>(size_t(picture.width) + 1);
        row[size_t(picture.width)] = kGuardWord;
        picture.rowTable.push_back(row.get());
    }
    std::sort(picture.rowTable.begin(), picture.rowTable.end(), std::greater<uint32_t*>());
    picture.block->rowTable = picture.rowTable.data();
}

template <typename T>
void Overwrite(T* storage, size_t count) {
    std::memset(static_cast<void*>(storage), kMovedAwayByte, count * sizeof(T));
}

}  // namespace

void PictureObject::FreePixels() {
    std::vector<uint8_t>().swap(bytes);
    context.reset();
    block.reset();
    std::vector<std::unique_ptr<uint32_t[]>>().swap(rowStorage);
    std::vector<uint32_t*>().swap(rowTable);
}

// The new storage is taken while the old is still held, so no address comes
// back; the old is overwritten before it is freed.
void PictureObject::MovePixels() {
    if (!constructed) return;
    if (!console) {
        std::vector<uint8_t> movedBytes(bytes);
        auto movedContext = std::make_unique<CGBitmapContext>(*context);
        movedContext->data = movedBytes.data();
        Overwrite(bytes.data(), bytes.size());
        Overwrite(context.get(), 1);
        bytes.swap(movedBytes);
        context = std::move(movedContext);
        return;
    }
    PictureObject moved;
    moved.width = width;
    moved.height = height;
    AllocateConsole(moved);
    const size_t rowWords = size_t(width) + 1;
    for (size_t y = 0; y < rowTable.size(); ++y) {
        std::copy_n(rowTable[y], rowWords, moved.rowTable[y]);
        Overwrite(rowTable[y], rowWords);
    }
    *moved.block = *block;
    moved.block->rowTable = moved.rowTable.data();
    Overwrite(block.get(), 1);
    Overwrite(rowTable.data(), rowTable.size());
    block.swap(moved.block);
    rowStorage.swap(moved.rowStorage);
    rowTable.swap(moved.rowTable);
}

bool HostState::CountCreation() {
    int number = ++pictureCreations;
    if (failNextCreations > 0) {
        --failNextCreations;
        return false;
    }
    return number != failCreationNumber;
}

void HostState::AllocatePixels(PictureObject& picture, int width, int height, bool alpha) {
    picture.FreePixels();
    picture.width = width;
    picture.height = height;
    picture.hasAlpha = alpha;
    picture.console = ConsoleApp(config.app);
    picture.codec.hasAlpha = alpha;
    if (picture.console) {
        picture.codec.layout = PixelLayout::Console();
        AllocateConsole(picture);
    } else {
        picture.codec.layout = PixelLayout::Bitmap(alpha ? config.alphaLayout : config.plainLayout);
        AllocateBitmap(picture, config.rowPadding, picture.codec.layout.code);
    }
    picture.constructed = true;
    Fill(picture, alpha ? RGBA{0, 0, 0, 0} : RGBA{255, 255, 255, 255});
}

void HostState::Fill(PictureObject& picture, RGBA straight) {
    uint32_t word = picture.codec.FromStraight(straight);
    for (int y = 0; y < picture.height; ++y) std::fill_n(picture.Row(y), picture.width, word);
}

PictureObject* HostState::CreatePicture(int width, int height, bool alpha) {
    auto picture = std::make_unique<PictureObject>();
    AllocatePixels(*picture, width, height, alpha);
    return Adopt(std::move(picture));
}

bool HostState::LockDescription(REALpicture handle, REALpictureDescription* description, int32_t kind) {
    PictureObject* picture = LivePicture(handle, "REALLockPictureDescription");
    if (picture == nullptr) return false;
    ++picture->lockCalls;
    bool served = (kind == REALdescriptionBitmapContext && config.app == AppKind::Desktop) ||
                  (kind == REALdescriptionConsoleBuffer && ConsoleApp(config.app));
    bool refused = picture->refusedKinds.count(kind) != 0 || refusedKinds.count(kind) != 0;
    if (!served || refused || !picture->constructed || description == nullptr) {
        // An older host keeps a refused lock open until the library undoes it.
        if (OlderHost()) ++picture->heldLocks;
        return false;
    }
    ++picture->heldLocks;
    *description = REALpictureDescription{};
    description->kind = kind;
    description->data = kind == REALdescriptionBitmapContext ? static_cast<void*>(picture->context.get())
                                                             : static_cast<void*>(picture->block.get());
    description->width = picture->width;
    description->height = picture->height;
    SpoilAsAsked(*picture, *description);
    return true;
}

void HostState::UnlockDescription(REALpicture handle) {
    PictureObject* picture = LivePicture(handle, "unlockPictureDescription");
    if (picture == nullptr) return;
    ++picture->unlockCalls;
    if (picture->heldLocks == 0) {
        ++unmatchedUnlocks;
        return;
    }
    if (--picture->heldLocks == 0 && config.movePixelsOnUnlock) picture->MovePixels();
}

// Every lock hands out what the switch says, so that a picture whose switch
// is turned back is whole again.
void HostState::SpoilAsAsked(PictureObject& picture, REALpictureDescription& description) {
    const Spoiled spoiled = picture.spoiled;
    if (spoiled == Spoiled::Kind) description.kind ^= REALdescriptionBitmapContext ^ REALdescriptionConsoleBuffer;
    if (spoiled == Spoiled::Data) description.data = nullptr;
    if (picture.context) picture.context->bitsPerPixel = spoiled == Spoiled::BitsPerPixel ? 24 : kBitsPerPixel;
    if (picture.block) {
        picture.block->firstWord = spoiled == Spoiled::FirstWord ? 1 : 0;
        picture.block->hostWord = spoiled == Spoiled::HostWord ? 0 : kConsoleHostWord;
        picture.block->rowTable = spoiled == Spoiled::RowTable ? nullptr : picture.rowTable.data();
    }
}

bool HostState::GetIntProperty(REALobject handle, const char* name, int32_t* value) {
    HostObject* object = Live(handle, "REALGetPropValueInt");
    if (object == nullptr || name == nullptr || value == nullptr) return false;
    const int32_t* property = nullptr;
    if (object->kind == ObjectKind::Picture) {
        auto* picture = static_cast<PictureObject*>(object);
        if (SameName(name, "Width")) property = &picture->width;
        if (SameName(name, "Height")) property = &picture->height;
    } else if (object->kind == ObjectKind::Instance && SameName(name, "ErrorNumber")) {
        property = &static_cast<InstanceObject*>(object)->errorNumber;
    }
    if (property == nullptr) return false;
    *value = *property;
    return true;
}

bool HostState::GetBoolProperty(REALobject handle, const char* name, uint8_t* value) {
    HostObject* object = Live(handle, "REALGetPropValueBool");
    if (object == nullptr || name == nullptr || value == nullptr) return false;
    if (object->kind != ObjectKind::Picture || !SameName(name, "HasAlphaChannel")) return false;
    *value = Boolean(static_cast<PictureObject*>(object)->hasAlpha);
    return true;
}

REALclassRef HostState::ClassRef(const char* className) const {
    static char desktop, web, console;
    if (className == nullptr) return nullptr;
    std::string name = className;
    if (name == "Application" && config.app == AppKind::Desktop) return &desktop;
    if (name == "WebApplication" && config.app == AppKind::Web) return &web;
    if (name == "ConsoleApplication" && config.app == AppKind::Console) return &console;
    return nullptr;
}

PictureObject& HostState::PictureFor(const void* handle, bool allowDead) const {
    HostObject* object = Find(handle);
    if (object == nullptr || (!object->alive && !allowDead) || object->kind != ObjectKind::Picture)
        throw std::invalid_argument("not a live picture of this host");
    return *static_cast<PictureObject*>(object);
}

// ---- helpers on Host ----

namespace {

PictureObject& PixelsOf(const HostState& state, REALpicture handle) {
    PictureObject& picture = state.PictureFor(handle);
    if (!picture.constructed) throw std::invalid_argument("picture has no pixels");
    return picture;
}

uint32_t& WordAt(PictureObject& picture, int x, int y) {
    if (x < 0 || y < 0 || x >= picture.width || y >= picture.height)
        throw std::out_of_range("pixel outside the picture");
    return picture.Row(y)[x];
}

}  // namespace

REALpicture Host::NewPicture(int width, int height, bool alpha) {
    if (!PictureFits(width, height)) throw std::invalid_argument("picture size below 1 or beyond the host's memory");
    return reinterpret_cast<REALpicture>(state_->CreatePicture(width, height, alpha));
}

int Host::Width(REALpicture picture) const { return state_->PictureFor(picture).width; }
int Host::Height(REALpicture picture) const { return state_->PictureFor(picture).height; }
bool Host::HasAlpha(REALpicture picture) const { return state_->PictureFor(picture).hasAlpha; }
int Host::LayoutCode(REALpicture picture) const { return PixelsOf(*state_, picture).codec.layout.code; }

REALpicture Host::MaskOf(REALpicture picture) const {
    return reinterpret_cast<REALpicture>(state_->PictureFor(picture).mask);
}

void Host::AttachMask(REALpicture picture, REALpicture mask) {
    PictureObject* maskObject = mask == nullptr ? nullptr : &state_->PictureFor(mask);
    state_->SetMask(state_->PictureFor(picture), maskObject);
}

RGBA Host::GetPixel(REALpicture picture, int x, int y) const {
    PictureObject& p = PixelsOf(*state_, picture);
    return p.codec.Stored(WordAt(p, x, y));
}

RGBA Host::GetPixelStraight(REALpicture picture, int x, int y) const {
    PictureObject& p = PixelsOf(*state_, picture);
    return p.codec.Straight(WordAt(p, x, y));
}

void Host::SetPixel(REALpicture picture, int x, int y, RGBA straight) {
    PictureObject& p = PixelsOf(*state_, picture);
    WordAt(p, x, y) = p.codec.FromStraight(straight);
}

uint32_t Host::RawWord(REALpicture picture, int x, int y) const {
    PictureObject& p = PixelsOf(*state_, picture);
    return WordAt(p, x, y);
}

void Host::SetRawWord(REALpicture picture, int x, int y, uint32_t word) {
    PictureObject& p = PixelsOf(*state_, picture);
    WordAt(p, x, y) = word;
}

void Host::FillRGB(REALpicture picture, const uint8_t* rgb) {
    PictureObject& p = PixelsOf(*state_, picture);
    for (int y = 0; y < p.height; ++y) {
        uint32_t* row = p.Row(y);
        for (int x = 0; x < p.width; ++x, rgb += 3) row[x] = p.codec.FromStraight({rgb[0], rgb[1], rgb[2], 255});
    }
}

void Host::FillRGBA(REALpicture picture, const uint8_t* rgba) {
    PictureObject& p = PixelsOf(*state_, picture);
    for (int y = 0; y < p.height; ++y) {
        uint32_t* row = p.Row(y);
        for (int x = 0; x < p.width; ++x, rgba += 4)
            row[x] = p.codec.FromStraight({rgba[0], rgba[1], rgba[2], rgba[3]});
    }
}

void Host::WriteRowRGBA(REALpicture picture, int y, const uint8_t* rgba) {
    PictureObject& p = PixelsOf(*state_, picture);
    if (y < 0 || y >= p.height) throw std::out_of_range("row outside the picture");
    uint32_t* row = p.Row(y);
    if (p.codec.hasAlpha) {
        for (int x = 0; x < p.width; ++x, rgba += 4)
            row[x] = p.codec.FromStraight({rgba[0], rgba[1], rgba[2], rgba[3]});
        return;
    }
    // A plain picture, the common case of a file's pixels. The bitmap layouts
    // hold the colour bytes in their order, in the low or the high three bytes
    // of the word: one shift for all of them, which the compiler vectorises.
    const PixelLayout& layout = p.codec.layout;
    const uint32_t fourth = uint32_t(p.codec.PlainFourth()) << layout.fourthShift;
    auto word = [rgba](int x) {
        uint32_t value;
        std::memcpy(&value, rgba + size_t(x) * 4, 4);
        return value;
    };
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the colour bytes are read as a little-endian word");
    if (layout.redShift == 0 && layout.greenShift == 8 && layout.blueShift == 16) {
        for (int x = 0; x < p.width; ++x) row[x] = (word(x) & 0x00FFFFFFu) | fourth;
    } else if (layout.redShift == 8 && layout.greenShift == 16 && layout.blueShift == 24) {
        for (int x = 0; x < p.width; ++x) row[x] = word(x) << 8 | fourth;
    } else {
        for (int x = 0; x < p.width; ++x, rgba += 4)
            row[x] = uint32_t(rgba[0]) << layout.redShift | uint32_t(rgba[1]) << layout.greenShift |
                     uint32_t(rgba[2]) << layout.blueShift | fourth;
    }
}

std::vector<uint8_t> Host::ReadRGBA(REALpicture picture, bool straight) const {
    PictureObject& p = PixelsOf(*state_, picture);
    std::vector<uint8_t> out(size_t(p.width) * size_t(p.height) * 4);
    for (int y = 0; y < p.height; ++y) ReadRowRGBA(picture, y, straight, &out[size_t(y) * size_t(p.width) * 4]);
    return out;
}

void Host::ReadRowRGBA(REALpicture picture, int y, bool straight, uint8_t* rgba) const {
    PictureObject& p = PixelsOf(*state_, picture);
    const uint32_t* row = p.Row(y);
    for (int x = 0; x < p.width; ++x, rgba += 4) {
        RGBA c = straight ? p.codec.Straight(row[x]) : p.codec.Stored(row[x]);
        rgba[0] = c.r;
        rgba[1] = c.g;
        rgba[2] = c.b;
        rgba[3] = c.a;
    }
}

bool Host::PaddingIntact(REALpicture picture) const {
    PictureObject& p = PixelsOf(*state_, picture);
    for (int y = 0; y < p.height; ++y) {
        if (p.console) {
            if (p.Row(y)[p.width] != kGuardWord) return false;
            continue;
        }
        const uint8_t* start = reinterpret_cast<const uint8_t*>(p.Row(y)) + size_t(p.width) * 4;
        const uint8_t* end = reinterpret_cast<const uint8_t*>(p.Row(y)) + p.BytesPerRow();
        if (std::any_of(start, end, [](uint8_t b) { return b != kPaddingSentinel; })) return false;
    }
    return true;
}

void Host::RefuseLock(REALpicture picture, int32_t kind, bool refuse) {
    auto& kinds = state_->PictureFor(picture).refusedKinds;
    if (refuse) {
        kinds.insert(kind);
    } else {
        kinds.erase(kind);
    }
}

void Host::RefuseLocks(int32_t kind, bool refuse) {
    if (refuse) {
        state_->refusedKinds.insert(kind);
    } else {
        state_->refusedKinds.erase(kind);
    }
}

void Host::Spoil(REALpicture picture, Spoiled what) { state_->PictureFor(picture).spoiled = what; }

int Host::LockCount(REALpicture picture) const { return state_->PictureFor(picture, true).lockCalls; }
int Host::UnlockCount(REALpicture picture) const { return state_->PictureFor(picture, true).unlockCalls; }
int Host::ClearCacheCount(REALpicture picture) const { return state_->PictureFor(picture, true).clearCacheCalls; }

void Host::FailPictureCreation(int count) { state_->failNextCreations = count; }
void Host::FailPictureCreationAt(int k) { state_->failCreationNumber = k > 0 ? state_->pictureCreations + k : 0; }
int Host::PictureCreations() const { return state_->pictureCreations; }

}  // namespace zpxhost
