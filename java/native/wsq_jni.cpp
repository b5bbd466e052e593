/* wsq_jni.cpp - the native methods of wsq.Native: each calls the function of wsq.h it is named
 * after.
 *
 * Settings and facts cross between the languages field by field, by name, so that neither side
 * depends on the other's layout, and settings start from the library's own defaults: a field
 * the Java side does not know keeps its default. Every buffer is released before a method
 * returns, on every path; every failure leaves a wsq.WsqException pending (or the virtual
 * machine's own error, when it cannot make one). Nothing is kept between calls. */
#include <jni.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "wsq.h"
#include "wsq_Native.h"

namespace {

struct LibraryRelease {
    void operator()(uint8_t *buffer) const { wsq_free(buffer); }
};
struct Release {
    void operator()(uint8_t *buffer) const { std::free(buffer); }
};
using LibraryBuffer = std::unique_ptr<uint8_t, LibraryRelease>;
using Buffer = std::unique_ptr<uint8_t, Release>;

/* Leaves a wsq.WsqException pending for error, its offset counted from base. */
void throw_failure(JNIEnv *env, const wsq_error &error, jint base) {
    jclass type = env->FindClass("wsq/WsqException");
    jmethodID init = type ? env->GetMethodID(type, "<init>", "(IJ[B)V") : nullptr;
    auto length = static_cast<jsize>(strnlen(error.message, sizeof error.message));
    jbyteArray message = init ? env->NewByteArray(length) : nullptr;
    if (!message)
        return;  // the virtual machine's error is pending
    env->SetByteArrayRegion(message, 0, length, reinterpret_cast<const jbyte *>(error.message));
    auto offset = static_cast<jlong>(base) + static_cast<jlong>(error.offset);
    auto exception =
        static_cast<jthrowable>(env->NewObject(type, init, error.status, offset, message));
    if (exception)
        env->Throw(exception);
}

/* Leaves a wsq.WsqException pending for a failure found here rather than by the library. */
void throw_status(JNIEnv *env, int status, const char *message) {
    wsq_error error{};
    error.status = status;
    std::snprintf(error.message, sizeof error.message, "%s", message);
    throw_failure(env, error, 0);
}

/* A copy of count bytes of array from offset, followed by extra zero bytes; null, with an
 * exception pending, when memory runs out. */
Buffer copy_region(JNIEnv *env, jbyteArray array, jint offset, jint count, size_t extra = 0) {
    auto size = static_cast<size_t>(count);
    Buffer copy(static_cast<uint8_t *>(std::malloc(size + extra + 1)));  // never 0 bytes
    if (!copy) {
        throw_status(env, WSQ_ERR_MEMORY, "no memory for a copy of the input");
        return copy;
    }
    env->GetByteArrayRegion(array, offset, count, reinterpret_cast<jbyte *>(copy.get()));
    std::memset(copy.get() + size, 0, extra + 1);
    return copy;
}

/* A new Java array holding size bytes; null, with an exception pending, if none can be made. */
jbyteArray new_array(JNIEnv *env, const uint8_t *bytes, size_t size) {
    if (size > INT32_MAX) {
        throw_status(env, WSQ_ERR_LIMIT, "the result is larger than a Java array can hold");
        return nullptr;
    }
    jbyteArray array = env->NewByteArray(static_cast<jsize>(size));
    if (array)
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(size),
                                reinterpret_cast<const jbyte *>(bytes));
    return array;
}

/* The fields of a Java object, read and written by name. Once an exception is pending (a
 * field missing: a jar and a native library of different versions) every access does nothing
 * and reads 0; the caller checks for it before using what it read. */
class Fields {
  public:
    Fields(JNIEnv *env, jobject object)
        : env_(env), object_(object), type_(env->GetObjectClass(object)) {}

    jint get_int(const char *name) { return get(name, "I", &JNIEnv::GetIntField); }
    jlong get_long(const char *name) { return get(name, "J", &JNIEnv::GetLongField); }
    jdouble get_double(const char *name) { return get(name, "D", &JNIEnv::GetDoubleField); }
    jbyteArray get_bytes(const char *name) {
        return static_cast<jbyteArray>(get(name, "[B", &JNIEnv::GetObjectField));
    }

    void set(const char *name, jint value) { put(name, "I", &JNIEnv::SetIntField, value); }
    void set(const char *name, jlong value) { put(name, "J", &JNIEnv::SetLongField, value); }
    void set(const char *name, jfloat value) { put(name, "F", &JNIEnv::SetFloatField, value); }
    void set(const char *name, jdouble value) { put(name, "D", &JNIEnv::SetDoubleField, value); }
    void set(const char *name, const int32_t *values, jsize count) {
        jfieldID f = id(name, "[I");
        jintArray array = f ? env_->NewIntArray(count) : nullptr;
        if (array) {
            env_->SetIntArrayRegion(array, 0, count, values);
            env_->SetObjectField(object_, f, array);
        }
    }
    void set(const char *name, const size_t *values, jsize count) {
        jlong wide[3] = {};  // count is at most 3: the blocks of a stream
        for (jsize i = 0; i < count; i++)
            wide[i] = static_cast<jlong>(values[i]);
        jfieldID f = id(name, "[J");
        jlongArray array = f ? env_->NewLongArray(count) : nullptr;
        if (array) {
            env_->SetLongArrayRegion(array, 0, count, wide);
            env_->SetObjectField(object_, f, array);
        }
    }

  private:
    template <typename T>
    T get(const char *name, const char *signature, T (JNIEnv::*getter)(jobject, jfieldID)) {
        jfieldID f = id(name, signature);
        return f ? (env_->*getter)(object_, f) : T{};
    }
    template <typename T>
    void put(const char *name, const char *signature, void (JNIEnv::*setter)(jobject, jfieldID, T),
             T value) {
        if (jfieldID f = id(name, signature))
            (env_->*setter)(object_, f, value);
    }
    jfieldID id(const char *name, const char *signature) {
        return env_->ExceptionCheck() ? nullptr : env_->GetFieldID(type_, name, signature);
    }

    JNIEnv *env_;
    jobject object_;
    jclass type_;
};

/* The library's decoding defaults with the settings of a wsq.DecodeOptions; false, with an
 * exception pending, when they cannot be read. */
bool decode_options(JNIEnv *env, jobject settings, wsq_decode_options *options) {
    wsq_decode_defaults(options);
    Fields fields(env, settings);
    jlong max_pixels = fields.get_long("maxPixels");
    options->threads = fields.get_int("threads");
    options->reduce = fields.get_int("reduce");
    if (env->ExceptionCheck())
        return false;
    if (max_pixels < 0) {
        throw_status(env, WSQ_ERR_ARGUMENT, "the pixel limit cannot be negative");
        return false;
    }
    options->max_pixels = static_cast<size_t>(max_pixels);
    return true;
}

/* Writes the facts of a stream into a wsq.WsqInfo. */
void fill_info(JNIEnv *env, jobject target, const wsq_info &info) {
    Fields fields(env, target);
    fields.set("width", info.width);
    fields.set("height", info.height);
    fields.set("black", info.black);
    fields.set("white", info.white);
    fields.set("midpoint", info.midpoint);
    fields.set("rescale", info.rescale);
    fields.set("encoder", info.encoder);
    fields.set("software", info.software);
    fields.set("filterLengths", info.filter_lengths, 2);
    fields.set("center", info.center);
    fields.set("tables", static_cast<jint>(info.tables));
    fields.set("restartInterval", info.restart_interval);
    jsize blocks = std::min(info.blocks, 3);
    fields.set("blockTables", info.block_table, blocks);
    fields.set("blockBytes", info.block_bytes, blocks);
    fields.set("commentCount", static_cast<jint>(info.comments));
    fields.set("streamBytes", static_cast<jlong>(info.stream_bytes));
}

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_wsq_Native_statusName(JNIEnv *env, jclass, jint status) {
    return env->NewStringUTF(wsq_strerror(status));
}

JNIEXPORT jstring JNICALL Java_wsq_Native_version(JNIEnv *env, jclass) {
    return env->NewStringUTF(wsq_version());
}

JNIEXPORT void JNICALL Java_wsq_Native_encodeDefaults(JNIEnv *env, jclass, jobject target) {
    wsq_encode_options options;
    wsq_encode_defaults(&options);
    Fields fields(env, target);
    fields.set("bitrate", options.bitrate);
    fields.set("black", options.black);
    fields.set("white", options.white);
    fields.set("threads", options.threads);
}

JNIEXPORT void JNICALL Java_wsq_Native_decodeDefaults(JNIEnv *env, jclass, jobject target) {
    wsq_decode_options options;
    wsq_decode_defaults(&options);
    Fields fields(env, target);
    fields.set("maxPixels", static_cast<jlong>(options.max_pixels));
    fields.set("threads", options.threads);
    fields.set("reduce", options.reduce);
}

JNIEXPORT jbyteArray JNICALL Java_wsq_Native_encode(JNIEnv *env, jclass, jbyteArray pixels,
                                                    jint width, jint height, jobject settings) {
    wsq_encode_options options;
    wsq_encode_defaults(&options);
    Fields fields(env, settings);
    options.bitrate = fields.get_double("bitrate");
    options.black = fields.get_int("black");
    options.white = fields.get_int("white");
    options.threads = fields.get_int("threads");
    jbyteArray comment_bytes = fields.get_bytes("comment");
    if (env->ExceptionCheck())
        return nullptr;
    Buffer comment;  // NUL-terminated
    if (comment_bytes) {
        comment = copy_region(env, comment_bytes, 0, env->GetArrayLength(comment_bytes), 1);
        if (!comment)
            return nullptr;
        options.comment = reinterpret_cast<const char *>(comment.get());
    }
    // Only the image's own bytes are copied: a longer array holds more than it needs, a shorter
    // one is refused by the library with its length.
    jint available = env->GetArrayLength(pixels);
    int64_t needed = width > 0 && height > 0 ? int64_t{width} * height : 0;
    auto count = static_cast<jint>(needed < available ? needed : available);
    Buffer image = copy_region(env, pixels, 0, count);
    if (!image)
        return nullptr;
    uint8_t *stream = nullptr;
    size_t stream_size = 0;
    wsq_error error;
    int status = wsq_encode(&stream, &stream_size, &error, image.get(),
                            static_cast<size_t>(count), width, height, &options);
    LibraryBuffer owned(stream);
    if (status != WSQ_OK) {
        throw_failure(env, error, 0);
        return nullptr;
    }
    return new_array(env, stream, stream_size);
}

JNIEXPORT jbyteArray JNICALL Java_wsq_Native_decode(JNIEnv *env, jclass, jbyteArray data,
                                                    jint offset, jint length, jobject settings) {
    wsq_decode_options options;
    if (!decode_options(env, settings, &options))
        return nullptr;
    Buffer stream = copy_region(env, data, offset, length);
    if (!stream)
        return nullptr;
    uint8_t *pixels = nullptr;
    wsq_info info;
    wsq_error error;
    int status =
        wsq_decode(&pixels, &info, &error, stream.get(), static_cast<size_t>(length), &options);
    LibraryBuffer owned(pixels);
    if (status != WSQ_OK) {
        throw_failure(env, error, offset);
        return nullptr;
    }
    return new_array(env, pixels,
                     static_cast<size_t>(WSQ_REDUCED_SIZE(info.width, options.reduce)) *
                         static_cast<size_t>(WSQ_REDUCED_SIZE(info.height, options.reduce)));
}

// Reading the facts touches no image-sized memory and makes no call back into Java: the
// stream is read in place, without a copy.
JNIEXPORT void JNICALL Java_wsq_Native_readInfo(JNIEnv *env, jclass, jbyteArray data, jint offset,
                                                jobject target) {
    jint size = env->GetArrayLength(data);
    auto *bytes = static_cast<uint8_t *>(env->GetPrimitiveArrayCritical(data, nullptr));
    if (!bytes)
        return;
    wsq_info info;
    wsq_error error;
    int status =
        wsq_read_info(&info, &error, bytes + offset, static_cast<size_t>(size - offset));
    env->ReleasePrimitiveArrayCritical(data, bytes, JNI_ABORT);
    if (status != WSQ_OK)
        throw_failure(env, error, offset);
    else
        fill_info(env, target, info);
}

JNIEXPORT jintArray JNICALL Java_wsq_Native_comment(JNIEnv *env, jclass, jbyteArray data,
                                                    jint offset, jint index) {
    jint size = env->GetArrayLength(data);
    auto *bytes = static_cast<uint8_t *>(env->GetPrimitiveArrayCritical(data, nullptr));
    if (!bytes)
        return nullptr;
    const uint8_t *text = nullptr;
    size_t length = 0;
    wsq_error error;
    int status = wsq_comment(&text, &length, &error, bytes + offset,
                             static_cast<size_t>(size - offset), static_cast<uint32_t>(index));
    jint span[2] = {status == WSQ_OK ? static_cast<jint>(text - bytes) : 0,
                    static_cast<jint>(length)};
    env->ReleasePrimitiveArrayCritical(data, bytes, JNI_ABORT);
    if (status != WSQ_OK) {
        throw_failure(env, error, offset);
        return nullptr;
    }
    jintArray result = env->NewIntArray(2);
    if (result)
        env->SetIntArrayRegion(result, 0, 2, span);
    return result;
}

JNIEXPORT jbyteArray JNICALL Java_wsq_Native_grayFromColor(JNIEnv *env, jclass, jbyteArray color,
                                                           jint channels) {
    jint size = env->GetArrayLength(color);
    // The library tells whether it takes that many channels; it has no message to say so.
    if (wsq_gray_from_color(nullptr, nullptr, 0, channels) != WSQ_OK || size % channels != 0) {
        char message[120];
        std::snprintf(message, sizeof message,
                      "%d bytes are no whole number of pixels of 3 (RGB) or 4 (RGBA) channels: "
                      "%d given", size, channels);
        throw_status(env, WSQ_ERR_ARGUMENT, message);
        return nullptr;
    }
    jbyteArray gray = env->NewByteArray(size / channels);
    if (!gray)
        return nullptr;
    auto *in = static_cast<uint8_t *>(env->GetPrimitiveArrayCritical(color, nullptr));
    auto *out =
        in ? static_cast<uint8_t *>(env->GetPrimitiveArrayCritical(gray, nullptr)) : nullptr;
    if (out) {
        wsq_gray_from_color(out, in, static_cast<size_t>(size / channels), channels);
        env->ReleasePrimitiveArrayCritical(gray, out, 0);
    }
    if (in)
        env->ReleasePrimitiveArrayCritical(color, in, JNI_ABORT);
    return out ? gray : nullptr;
}

}  // extern "C"
