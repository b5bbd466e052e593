/* wsq_jni.cpp - the native methods of wsq.Native: each calls the function of wsq.h or
 * transaction.h it is named after.
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
#include <initializer_list>
#include <memory>
#include <new>

#include "transaction.h"
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

/* A new object of class type_name, made by its constructor (int status, long offset, byte[]
 * message) from error, its offset counted from base: a wsq.WsqException or a wsq.Verdict.
 * Null, with the virtual machine's error pending, if none can be made. */
jobject new_report(JNIEnv *env, const char *type_name, const wsq_error &error, jlong base) {
    jclass type = env->FindClass(type_name);
    jmethodID init = type ? env->GetMethodID(type, "<init>", "(IJ[B)V") : nullptr;
    auto length = static_cast<jsize>(strnlen(error.message, sizeof error.message));
    jbyteArray message = init ? env->NewByteArray(length) : nullptr;
    if (!message)
        return nullptr;
    env->SetByteArrayRegion(message, 0, length, reinterpret_cast<const jbyte *>(error.message));
    auto offset = base + static_cast<jlong>(error.offset);
    return env->NewObject(type, init, error.status, offset, message);
}

/* Leaves a wsq.WsqException pending for error, its offset counted from base. */
void throw_failure(JNIEnv *env, const wsq_error &error, jlong base) {
    if (jobject exception = new_report(env, "wsq/WsqException", error, base))
        env->Throw(static_cast<jthrowable>(exception));
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
    void set(const char *name, const char *text, size_t length) {
        jfieldID f = id(name, "[B");
        jbyteArray array =
            f ? new_array(env_, reinterpret_cast<const uint8_t *>(text), length) : nullptr;
        if (array)
            env_->SetObjectField(object_, f, array);
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

/* The library's encoding defaults with the settings of a wsq.EncodeOptions, the comment's text
 * kept in *comment; false, with an exception pending, when they cannot be read. */
bool encode_options(JNIEnv *env, jobject settings, wsq_encode_options *options, Buffer *comment) {
    wsq_encode_defaults(options);
    Fields fields(env, settings);
    options->bitrate = fields.get_double("bitrate");
    options->black = fields.get_int("black");
    options->white = fields.get_int("white");
    options->threads = fields.get_int("threads");
    jbyteArray comment_bytes = fields.get_bytes("comment");
    if (env->ExceptionCheck())
        return false;
    if (comment_bytes) {  // copied NUL-terminated
        *comment = copy_region(env, comment_bytes, 0, env->GetArrayLength(comment_bytes), 1);
        if (!*comment)
            return false;
        options->comment = reinterpret_cast<const char *>(comment->get());
    }
    return true;
}

/* A copy of the pixels of an image of width x height, *count bytes: only the image's own bytes
 * are copied, since a longer array holds more than it needs; a shorter one is copied whole,
 * for the library to refuse with its length. Null, with an exception pending, when memory
 * runs out. */
Buffer image_pixels(JNIEnv *env, jbyteArray pixels, jint width, jint height, jint *count) {
    jint available = env->GetArrayLength(pixels);
    int64_t needed = width > 0 && height > 0 ? int64_t{width} * height : 0;
    *count = static_cast<jint>(needed < available ? needed : available);
    return copy_region(env, pixels, 0, *count);
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
    Buffer comment;
    if (!encode_options(env, settings, &options, &comment))
        return nullptr;
    jint count = 0;
    Buffer image = image_pixels(env, pixels, width, height, &count);
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

/* ---- Transactions -------------------------------------------------------------------------- */

namespace {

wsq_transaction *transaction_at(jlong handle) {
    return reinterpret_cast<wsq_transaction *>(static_cast<intptr_t>(handle));
}

/* Calls use(bytes, size) on the contents of array, read in place: use must make no call back
 * into Java. Returns false, with the virtual machine's error pending, when the contents cannot
 * be had. */
template <typename Use>
bool with_contents(JNIEnv *env, jbyteArray array, Use use) {
    jint size = env->GetArrayLength(array);
    auto *bytes = static_cast<uint8_t *>(env->GetPrimitiveArrayCritical(array, nullptr));
    if (!bytes)
        return false;
    use(bytes, static_cast<size_t>(size));
    env->ReleasePrimitiveArrayCritical(array, bytes, JNI_ABORT);
    return true;
}

/* Leaves a wsq.WsqException pending for a lookup the library refused: what, at index, does not
 * exist. Returns whether the status is a refusal. */
bool refused(JNIEnv *env, int status, const char *what, jlong index) {
    if (status == WSQ_OK)
        return false;
    char message[120];
    std::snprintf(message, sizeof message, "no such %s: %lld", what,
                  static_cast<long long>(index));
    throw_status(env, status, message);
    return true;
}

/* A new Java array of the values; null, with the virtual machine's error pending, on failure. */
jlongArray new_longs(JNIEnv *env, std::initializer_list<jlong> values) {
    auto count = static_cast<jsize>(values.size());
    jlongArray array = env->NewLongArray(count);
    if (array)
        env->SetLongArrayRegion(array, 0, count, values.begin());
    return array;
}

/* Leaves the status of an edit pending as a wsq.WsqException, unless it is WSQ_OK. */
void edited(JNIEnv *env, int status, const wsq_error &error) {
    if (status != WSQ_OK)
        throw_failure(env, error, 0);
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_wsq_Native_readTransaction(JNIEnv *env, jclass, jbyteArray data,
                                                        jboolean tolerant) {
    wsq_transaction *transaction = nullptr;
    wsq_error error;
    int status = WSQ_OK;
    auto read = tolerant ? wsq_transaction_read_tolerant : wsq_transaction_read;
    if (!with_contents(env, data, [&](const uint8_t *bytes, size_t size) {
            status = read(&transaction, &error, bytes, size);
        }))
        return 0;
    if (status != WSQ_OK)
        throw_failure(env, error, 0);
    return static_cast<jlong>(reinterpret_cast<intptr_t>(transaction));
}

JNIEXPORT void JNICALL Java_wsq_Native_freeTransaction(JNIEnv *, jclass, jlong transaction) {
    wsq_transaction_free(transaction_at(transaction));
}

JNIEXPORT jobject JNICALL Java_wsq_Native_warning(JNIEnv *env, jclass, jlong transaction) {
    wsq_error warning;
    wsq_transaction_warning(transaction_at(transaction), &warning);
    return new_report(env, "wsq/Verdict", warning, 0);
}

JNIEXPORT jint JNICALL Java_wsq_Native_recordCount(JNIEnv *, jclass, jlong transaction) {
    // Each record takes bytes of a transaction that a Java array held: fewer than 2^31.
    return static_cast<jint>(wsq_transaction_record_count(transaction_at(transaction)));
}

JNIEXPORT void JNICALL Java_wsq_Native_record(JNIEnv *env, jclass, jlong transaction, jint index,
                                              jobject target) {
    wsq_record record;
    if (refused(env, wsq_transaction_record(transaction_at(transaction),
                                            static_cast<size_t>(index), &record),
                "record", index))
        return;
    Fields fields(env, target);
    fields.set("type", record.type);
    fields.set("idc", record.idc);
    fields.set("tagged", record.tagged);
    fields.set("fieldCount", static_cast<jint>(record.fields));
    fields.set("offset", static_cast<jlong>(record.offset));
    fields.set("length", static_cast<jlong>(record.length));
}

JNIEXPORT jlongArray JNICALL Java_wsq_Native_field(JNIEnv *env, jclass, jlong transaction,
                                                   jint record, jint index) {
    wsq_field field;
    if (refused(env, wsq_transaction_field(transaction_at(transaction),
                                           static_cast<size_t>(record),
                                           static_cast<size_t>(index), &field),
                "field", index))
        return nullptr;
    return new_longs(env, {field.number, static_cast<jlong>(field.offset),
                           static_cast<jlong>(field.length)});
}

JNIEXPORT jint JNICALL Java_wsq_Native_imageCount(JNIEnv *, jclass, jlong transaction) {
    return static_cast<jint>(wsq_transaction_image_count(transaction_at(transaction)));
}

JNIEXPORT void JNICALL Java_wsq_Native_image(JNIEnv *env, jclass, jlong transaction, jint index,
                                             jobject target) {
    wsq_image_entry image;
    if (refused(env, wsq_transaction_image(transaction_at(transaction),
                                           static_cast<size_t>(index), &image),
                "image", index))
        return;
    Fields fields(env, target);
    fields.set("record", static_cast<jint>(image.record));
    fields.set("type", image.type);
    fields.set("idc", image.idc);
    fields.set("positions", image.positions, std::clamp(image.position_count, 0, 6));
    fields.set("impression", image.impression);
    fields.set("compression", image.compression);
    fields.set("compressionName", image.compression_name,
               strnlen(image.compression_name, sizeof image.compression_name));
    fields.set("width", image.width);
    fields.set("height", image.height);
    fields.set("bitsPerPixel", image.bits_per_pixel);
    fields.set("ppi", image.ppi);
    fields.set("dataOffset", static_cast<jlong>(image.data_offset));
    fields.set("dataLength", static_cast<jlong>(image.data_length));
}

JNIEXPORT jbyteArray JNICALL Java_wsq_Native_transactionBytes(JNIEnv *env, jclass,
                                                              jlong transaction, jlong offset,
                                                              jlong length) {
    size_t size = 0;
    const uint8_t *bytes = wsq_transaction_bytes(transaction_at(transaction), &size);
    if (length < 0)
        length = static_cast<jlong>(size) - offset;
    if (offset < 0 || length < 0 || static_cast<size_t>(offset) > size ||
        static_cast<size_t>(length) > size - static_cast<size_t>(offset)) {
        throw_status(env, WSQ_ERR_ARGUMENT, "a span past the transaction's bytes");
        return nullptr;
    }
    return new_array(env, bytes + offset, static_cast<size_t>(length));
}

JNIEXPORT jobject JNICALL Java_wsq_Native_check(JNIEnv *env, jclass, jlong transaction) {
    wsq_error error;
    wsq_transaction_check(transaction_at(transaction), &error);
    return new_report(env, "wsq/Verdict", error, 0);
}

JNIEXPORT jobjectArray JNICALL Java_wsq_Native_checkAll(JNIEnv *env, jclass, jlong transaction) {
    const wsq_transaction *checked = transaction_at(transaction);
    size_t count = 0;
    if (wsq_transaction_check_all(checked, nullptr, 0, &count) != WSQ_OK) {
        throw_status(env, WSQ_ERR_MEMORY, "no memory to check the transaction");
        return nullptr;
    }
    std::unique_ptr<wsq_error[]> flaws(new (std::nothrow) wsq_error[count + 1]);
    if (!flaws || wsq_transaction_check_all(checked, flaws.get(), count, &count) != WSQ_OK) {
        throw_status(env, WSQ_ERR_MEMORY, "no memory to check the transaction");
        return nullptr;
    }
    jclass type = env->FindClass("wsq/Verdict");
    jobjectArray verdicts =
        type ? env->NewObjectArray(static_cast<jsize>(count), type, nullptr) : nullptr;
    for (size_t i = 0; verdicts && i < count; i++) {
        jobject verdict = new_report(env, "wsq/Verdict", flaws[i], 0);
        if (!verdict)
            return nullptr;
        env->SetObjectArrayElement(verdicts, static_cast<jsize>(i), verdict);
        env->DeleteLocalRef(verdict);
    }
    return verdicts;
}

JNIEXPORT void JNICALL Java_wsq_Native_replaceImage(JNIEnv *env, jclass, jlong transaction,
                                                    jint record, jbyteArray stream) {
    wsq_error error;
    int status = WSQ_OK;
    if (with_contents(env, stream, [&](const uint8_t *bytes, size_t size) {
            status = wsq_transaction_replace_image(transaction_at(transaction),
                                                   static_cast<size_t>(record), bytes, size,
                                                   &error);
        }))
        edited(env, status, error);
}

JNIEXPORT void JNICALL Java_wsq_Native_replacePixels(JNIEnv *env, jclass, jlong transaction,
                                                     jint record, jbyteArray pixels, jint width,
                                                     jint height, jobject settings) {
    wsq_encode_options options;
    Buffer comment;
    if (!encode_options(env, settings, &options, &comment))
        return;
    jint count = 0;
    Buffer image = image_pixels(env, pixels, width, height, &count);
    if (!image)
        return;
    wsq_error error;
    edited(env,
           wsq_transaction_replace_pixels(transaction_at(transaction),
                                          static_cast<size_t>(record), image.get(),
                                          static_cast<size_t>(count), width, height, &options,
                                          &error),
           error);
}

JNIEXPORT void JNICALL Java_wsq_Native_insertBinary(JNIEnv *env, jclass, jlong transaction,
                                                    jint index, jint type, jbyteArray bytes) {
    wsq_error error;
    int status = WSQ_OK;
    if (with_contents(env, bytes, [&](const uint8_t *record, size_t length) {
            status = wsq_transaction_insert_binary(transaction_at(transaction),
                                                   static_cast<size_t>(index), type, record,
                                                   length, &error);
        }))
        edited(env, status, error);
}

JNIEXPORT void JNICALL Java_wsq_Native_insertTagged(JNIEnv *env, jclass, jlong transaction,
                                                    jint index, jint type, jint idc) {
    wsq_error error;
    edited(env,
           wsq_transaction_insert_tagged(transaction_at(transaction), static_cast<size_t>(index),
                                         type, idc, &error),
           error);
}

JNIEXPORT void JNICALL Java_wsq_Native_remove(JNIEnv *env, jclass, jlong transaction,
                                              jint index) {
    wsq_error error;
    edited(env,
           wsq_transaction_remove(transaction_at(transaction), static_cast<size_t>(index), &error),
           error);
}

JNIEXPORT void JNICALL Java_wsq_Native_setField(JNIEnv *env, jclass, jlong transaction,
                                                jint record, jint number, jbyteArray value) {
    wsq_error error;
    int status = WSQ_OK;
    if (with_contents(env, value, [&](const uint8_t *bytes, size_t length) {
            status = wsq_transaction_set_field(transaction_at(transaction),
                                               static_cast<size_t>(record), number, bytes,
                                               length, &error);
        }))
        edited(env, status, error);
}

}  // extern "C"
