// Graphics objects and the host methods a library finds by declaration:
// DrawPicture, the Picture constructor, "CopyMask as Picture" and the mask
// setter; and masks as "REALGetPictureMask" hands them out.
#include <algorithm>
#include <cstring>
#include <utility>

#include "host/HostState.h"

namespace zpxhost {

namespace {

size_t Index(HostMethod method) { return static_cast<size_t>(method); }

// Source-over of premultiplied colour.
RGBA Over(RGBA source, RGBA destination) {
    uint32_t rest = 255u - source.a;
    auto channel = [&](uint8_t s, uint8_t d) { return uint8_t(std::min<uint32_t>(255, s + Div255(d * rest))); };
    return {channel(source.r, destination.r), channel(source.g, destination.g), channel(source.b, destination.b),
            channel(source.a, destination.a)};
}

RGBA Scale(RGBA c, uint32_t coverage) {
    if (coverage == 255) return c;
    return {Div255(c.r * coverage), Div255(c.g * coverage), Div255(c.b * coverage), Div255(c.a * coverage)};
}

// The source index that destination index `offset` of `destinationLength` samples
// when `sourceLength` pixels are stretched over them: the pixel under its centre.
int NearestSource(int64_t offset, int64_t destinationLength, int64_t sourceLength) {
    return int((2 * offset + 1) * sourceLength / (2 * destinationLength));
}

void DrawPictureMethod(REALobject graphics, REALpicture image, int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx,
                       int32_t sy, int32_t sw, int32_t sh) {
    HostState* state = CurrentState();
    if (state == nullptr) return;
    state->RunMethodHook(HostMethod::DrawPicture);
    HostObject* object = state->Live(graphics, "DrawPicture");
    if (object == nullptr) return;
    if (object->kind != ObjectKind::Graphics) {
        state->Problem("DrawPicture: " + state->Describe(object) + " is no Graphics object");
        return;
    }
    if (image == nullptr) return;
    PictureObject* source = state->LivePicture(image, "DrawPicture");
    if (source == nullptr) return;
    state->Draw(*static_cast<GraphicsObject*>(object)->picture, *source, x, y, w, h, sx, sy, sw, sh);
}

void PictureConstructorMethod(REALobject picture, int32_t width, int32_t height) {
    HostState* state = CurrentState();
    if (state == nullptr) return;
    state->RunMethodHook(HostMethod::PictureConstructor);
    PictureObject* target = state->LivePicture(picture, "Picture.Constructor");
    // A size below 1, or too large to hold, leaves the picture without pixels;
    // it then locks in no kind.
    if (target == nullptr || !PictureFits(width, height)) return;
    state->AllocatePixels(*target, width, height, true);
}

REALpicture CopyMaskMethod(REALobject picture) {
    HostState* state = CurrentState();
    if (state == nullptr) return nullptr;
    state->RunMethodHook(HostMethod::CopyMask);
    PictureObject* target = state->LivePicture(picture, "CopyMask");
    return target == nullptr ? nullptr : state->CopyMask(*target);
}

void SetMaskMethod(REALobject picture, REALpicture newMask) {
    HostState* state = CurrentState();
    if (state == nullptr) return;
    state->RunMethodHook(HostMethod::SetMask);
    PictureObject* target = state->LivePicture(picture, "Mask");
    PictureObject* mask = newMask == nullptr ? nullptr : state->LivePicture(newMask, "Mask");
    if (target == nullptr || (newMask != nullptr && mask == nullptr)) return;
    state->SetMask(*target, mask);
}

struct MethodEntry {
    HostMethod method;
    ObjectKind kind;
    const char* declaration;
    void* entry;
};

const MethodEntry kMethods[] = {
    {HostMethod::DrawPicture, ObjectKind::Graphics, REAL_DRAWPICTURE_DECLARATION,
     reinterpret_cast<void*>(&DrawPictureMethod)},
    {HostMethod::PictureConstructor, ObjectKind::Picture, REAL_PICTURE_CONSTRUCTOR_DECLARATION,
     reinterpret_cast<void*>(&PictureConstructorMethod)},
    {HostMethod::CopyMask, ObjectKind::Picture, REAL_COPYMASK_DECLARATION, reinterpret_cast<void*>(&CopyMaskMethod)},
    {HostMethod::SetMask, ObjectKind::Picture, REAL_SETMASK_DECLARATION, reinterpret_cast<void*>(&SetMaskMethod)},
};

}  // namespace

void HostState::RunMethodHook(HostMethod method) {
    ++methodCalls[Index(method)];
    // A copy: the hook may replace itself.
    if (std::function<void()> hook = methodHooks[Index(method)]) hook();
}

void* HostState::LoadObjectMethod(REALobject handle, const char* declaration) {
    HostObject* object = Live(handle, "REALLoadObjectMethod");
    if (object == nullptr || declaration == nullptr) return nullptr;
    for (const MethodEntry& method : kMethods) {
        if (object->kind == method.kind && std::strcmp(declaration, method.declaration) == 0)
            return methodMissing[Index(method.method)] ? nullptr : method.entry;
    }
    return nullptr;
}

REALobject HostState::GraphicsOf(REALpicture handle) {
    if (graphicsMissing) return nullptr;
    PictureObject* picture = LivePicture(handle, "pluginPictureGraphicsGetter");
    if (picture == nullptr || !picture->constructed) return nullptr;
    auto graphics = std::make_unique<GraphicsObject>(picture);
    Hold(picture);
    return reinterpret_cast<REALobject>(Adopt(std::move(graphics)));
}

REALpicture HostState::PictureMask(REALpicture handle, bool create) {
    PictureObject* picture = LivePicture(handle, "REALGetPictureMask");
    if (picture == nullptr) return nullptr;
    if (picture->mask != nullptr) {
        Retain(picture->mask);
        return reinterpret_cast<REALpicture>(picture->mask);
    }
    if (!create || !picture->constructed || !CountCreation()) return nullptr;
    PictureObject* mask = CreatePicture(picture->width, picture->height, false);
    Fill(*mask, {0, 0, 0, 255});
    SetMask(*picture, mask);
    return reinterpret_cast<REALpicture>(mask);
}

REALpicture HostState::CopyMask(PictureObject& picture) {
    if (!picture.constructed || (!picture.hasAlpha && picture.mask == nullptr)) return nullptr;
    if (!CountCreation()) return nullptr;
    // A picture with an alpha channel hands out its transparency as a mask.
    const PictureObject& from = picture.hasAlpha ? picture : *picture.mask;
    PictureObject* copy = CreatePicture(from.width, from.height, false);
    for (int y = 0; y < from.height; ++y) {
        const uint32_t* in = from.Row(y);
        uint32_t* out = copy->Row(y);
        for (int x = 0; x < from.width; ++x) {
            RGBA c = from.codec.Straight(in[x]);
            if (picture.hasAlpha) {
                uint8_t grey = uint8_t(255 - from.codec.Premultiplied(in[x]).a);
                c = {grey, grey, grey, 255};
            }
            out[x] = copy->codec.FromStraight(c);
        }
    }
    return reinterpret_cast<REALpicture>(copy);
}

void HostState::SetMask(PictureObject& picture, PictureObject* mask) {
    if (mask != nullptr) Hold(mask);
    if (PictureObject* old = std::exchange(picture.mask, mask)) Drop(old);
}

void HostState::Draw(PictureObject& destination, PictureObject& source, int x, int y, int w, int h, int sx, int sy,
                     int sw, int sh) {
    if (!destination.constructed || !source.constructed) return;
    if (sw == -10000) sw = source.width;
    if (sh == -10000) sh = source.height;
    if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return;
    int64_t xBegin = std::max<int64_t>(0, x), xEnd = std::min<int64_t>(destination.width, int64_t(x) + w);
    int64_t yBegin = std::max<int64_t>(0, y), yEnd = std::min<int64_t>(destination.height, int64_t(y) + h);
    if (xBegin >= xEnd || yBegin >= yEnd) return;

    std::vector<int> columns(size_t(xEnd - xBegin));
    for (int64_t X = xBegin; X < xEnd; ++X) columns[size_t(X - xBegin)] = sx + NearestSource(X - x, w, sw);
    const PictureObject* mask = source.mask != nullptr && source.mask->constructed ? source.mask : nullptr;

    for (int64_t Y = yBegin; Y < yEnd; ++Y) {
        int sourceY = sy + NearestSource(Y - y, h, sh);
        if (sourceY < 0 || sourceY >= source.height) continue;
        const uint32_t* in = source.Row(sourceY);
        const uint32_t* maskRow = mask != nullptr && sourceY < mask->height ? mask->Row(sourceY) : nullptr;
        uint32_t* out = destination.Row(int(Y)) + xBegin;
        for (size_t i = 0; i < columns.size(); ++i) {
            int column = columns[i];
            if (column < 0 || column >= source.width) continue;
            RGBA colour = source.codec.Premultiplied(in[column]);
            // Mask red 0 (black) keeps the pixel, 255 (white) removes it.
            if (maskRow != nullptr && column < mask->width)
                colour = Scale(colour, 255u - mask->codec.Stored(maskRow[column]).r);
            if (colour.a == 0) continue;  // nothing to draw: the destination keeps its word as it is
            if (colour.a < 255) colour = Over(colour, destination.codec.Premultiplied(out[i]));
            out[i] = destination.codec.FromPremultiplied(colour);
        }
    }
}

// ---- switches on Host ----

void Host::SetMethodMissing(HostMethod method, bool missing) { state_->methodMissing[Index(method)] = missing; }
void Host::SetGraphicsMissing(bool missing) { state_->graphicsMissing = missing; }
void Host::SetMethodHook(HostMethod method, std::function<void()> hook) {
    state_->methodHooks[Index(method)] = std::move(hook);
}
int Host::MethodCalls(HostMethod method) const { return state_->methodCalls[Index(method)]; }

}  // namespace zpxhost
