int payload_answer(void) { return 42; }
