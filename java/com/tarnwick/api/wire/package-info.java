/**
 * Decoders for the little-endian byte layouts that the bridge hands to Java: the Result buffer
 * of the queries with its cube or grid payload, the 8-byte count reply, the 16-byte
 * Subscription reply and the callback message. This is the low-level view; the typed classes of
 * {@code com.tarnwick.api} read through it.
 *
 * <p>Every decoder checks the layout strictly (lengths, counts, terminators, reserved bytes) and
 * throws {@link com.tarnwick.api.wire.WireFormatException} on the first deviation. A cube or
 * grid is decoded in one pass into its text lists and a {@link com.tarnwick.api.wire.ValueIndex}
 * of its values: their tags, the numbers in a primitive column, and for texts and bytes their
 * place in the array they came in (no copy, no object per value). The decoded types are
 * immutable; the arrays they read must not change.
 */
package com.tarnwick.api.wire;
