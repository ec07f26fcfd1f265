// The networking library's diagnostic switches, read from the environment once
// at load: a variable counts as set when it exists, whatever its value.
#pragma once

namespace net2::debug {

// TALOND_NET2_STREAM_SOCKET_DEBUG: the "[STREAM]" lines of the sockets.
bool stream_socket();
// TALOND_NET2_STREAM_SOCKET_DEEP_DEBUG: the output queue's state at every step.
bool stream_socket_deep();
// TALOND_NET2_TRLAYER_DEBUG: anomalies of the available-bytes query.
bool transport_layer();
// TALOND_NET2_REQUEST_DEBUG: construction and destruction of every request.
bool request();

// For tests: override the switches read at load.
void set_stream_socket(bool on);
void set_stream_socket_deep(bool on);
void set_transport_layer(bool on);
void set_request(bool on);

}  // namespace net2::debug
