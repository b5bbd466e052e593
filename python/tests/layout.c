/* Prints the size of each structure of wsq.h and transaction.h and the offset of each of its
 * fields, as a C compiler lays them out, one "name value" a line: the ctypes declarations of
 * the Python package must give the same. */
#include <stddef.h>
#include <stdio.h>

#include "transaction.h"

#define SIZE(type) printf(#type " %zu\n", sizeof(type))
#define FIELD(type, field) printf(#type "." #field " %zu\n", offsetof(type, field))

int main(void)
{
    SIZE(wsq_error);
    FIELD(wsq_error, status);
    FIELD(wsq_error, offset);
    FIELD(wsq_error, message);
    SIZE(wsq_encode_options);
    FIELD(wsq_encode_options, size);
    FIELD(wsq_encode_options, bitrate);
    FIELD(wsq_encode_options, black);
    FIELD(wsq_encode_options, white);
    FIELD(wsq_encode_options, comment);
    FIELD(wsq_encode_options, threads);
    SIZE(wsq_decode_options);
    FIELD(wsq_decode_options, size);
    FIELD(wsq_decode_options, max_pixels);
    FIELD(wsq_decode_options, threads);
    FIELD(wsq_decode_options, reduce);
    SIZE(wsq_info);
    FIELD(wsq_info, width);
    FIELD(wsq_info, height);
    FIELD(wsq_info, black);
    FIELD(wsq_info, white);
    FIELD(wsq_info, midpoint);
    FIELD(wsq_info, rescale);
    FIELD(wsq_info, encoder);
    FIELD(wsq_info, software);
    FIELD(wsq_info, filter_lengths);
    FIELD(wsq_info, center);
    FIELD(wsq_info, tables);
    FIELD(wsq_info, restart_interval);
    FIELD(wsq_info, blocks);
    FIELD(wsq_info, block_table);
    FIELD(wsq_info, block_bytes);
    FIELD(wsq_info, comments);
    FIELD(wsq_info, stream_bytes);
    SIZE(wsq_record);
    FIELD(wsq_record, type);
    FIELD(wsq_record, idc);
    FIELD(wsq_record, tagged);
    FIELD(wsq_record, fields);
    FIELD(wsq_record, offset);
    FIELD(wsq_record, length);
    SIZE(wsq_field);
    FIELD(wsq_field, number);
    FIELD(wsq_field, subfields);
    FIELD(wsq_field, tag_offset);
    FIELD(wsq_field, offset);
    FIELD(wsq_field, length);
    SIZE(wsq_image_entry);
    FIELD(wsq_image_entry, record);
    FIELD(wsq_image_entry, type);
    FIELD(wsq_image_entry, idc);
    FIELD(wsq_image_entry, positions);
    FIELD(wsq_image_entry, position_count);
    FIELD(wsq_image_entry, impression);
    FIELD(wsq_image_entry, compression);
    FIELD(wsq_image_entry, compression_name);
    FIELD(wsq_image_entry, width);
    FIELD(wsq_image_entry, height);
    FIELD(wsq_image_entry, bits_per_pixel);
    FIELD(wsq_image_entry, ppi);
    FIELD(wsq_image_entry, data_offset);
    FIELD(wsq_image_entry, data_length);
    return 0;
}
