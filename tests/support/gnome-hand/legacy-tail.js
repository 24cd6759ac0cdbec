
function init() {

    return new TestHand();

}
