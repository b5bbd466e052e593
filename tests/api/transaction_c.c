/* transaction.h from C: the header compiles as C99 with strict warnings, and
 * its calls link from C. */
#include "transaction.h"

/* The number of images of a transaction, or -1 when it cannot be read. */
long transaction_images_from_c(const uint8_t *data, size_t size)
{
    wsq_transaction *transaction;
    wsq_error error;
    long images;
    if (wsq_transaction_read(&transaction, &error, data, size) != WSQ_OK)
        return -1;
    images = (long)wsq_transaction_image_count(transaction);
    wsq_transaction_free(transaction);
    return images;
}
