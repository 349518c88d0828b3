// brindle_ws_core carries no engine image: the program brings its own engine.
void initEngineImageResource() {}
