/**
 * Decoders for the little-endian byte layouts that the bridge hands to Java: the Result buffer
 * of the queries with its cube or grid payload, the 8-byte count reply, the 16-byte
 * Subscription reply and the callback message.
 *
 * <p>Every decoder checks the layout strictly (lengths, counts, terminators, reserved bytes) and
 * throws {@link com.tarnwick.api.wire.WireFormatException} on the first deviation. The decoded
 * types are immutable.
 */
package com.tarnwick.api.wire;
