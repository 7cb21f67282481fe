// Put at the start of the module's own code. Its wasm is inside the page, as a data: URL, and the
// module fetches it when the browser has fetch: through the browser's loader that took most of the
// start-up on a busy machine. Without fetch in its scope the module decodes the URL itself, at once.
var fetch;
