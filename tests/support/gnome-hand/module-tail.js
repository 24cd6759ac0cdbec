
export default class TestHandExtension extends Extension {
    enable() {
        this._hand = new TestHand();
        this._hand.enable();
    }

    disable() {
        this._hand.disable();
    }
}
