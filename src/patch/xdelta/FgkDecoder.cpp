// xdelta's FGK: adaptive Huffman coding (Faller, Gallager and Knuth) over the
// 256 byte values, the tree carried on from section to section of a kind. A
// code is the path from the root (1: right); a value not seen before is the
// path to the one leaf that stands for every unseen value, then its place
// among those values, in as many bits as their count needs. After each value
// the tree is updated exactly as xdelta's encoder updates it: a node moves to
// the lead of the nodes of its weight (its "block") before its weight grows,
// and the blocks are kept in order of weight along a list of every node.
#include "patch/xdelta/Secondary.h"

#include <array>
#include <utility>

namespace tarnic {

namespace {

class FgkDecoder final : public SecondaryDecoder {
  public:
    FgkDecoder() {
        zeroCount_ = kSymbols + 2;
        countUnseen();
        countUnseen();
        for (int b = 0; b < kBlocks; ++b)
            nextFreeBlock_[size_t(b)] = b + 1 < kBlocks ? b + 1 : kNone;
        // The unseen values form a list through their child links, in order.
        for (int i = kSymbols - 1; i >= 0; --i) {
            Node &leaf = nodes_[size_t(i)];
            leaf.rightChild = i < kSymbols - 1 ? i + 1 : kNone;
            leaf.leftChild = i >= 1 ? i - 1 : kNone;
        }
    }

    bool decode(const std::uint8_t *in, std::size_t inSize, std::uint8_t *out,
                std::size_t outSize) override {
        const std::uint8_t *const end = in + inSize;
        std::size_t made = 0;
        while (!broken_ && outSize > 0) {
            if (in == end)
                return false;
            const unsigned byte = *in++;
            for (unsigned mask = 1; mask != 0x100; mask <<= 1) {
                if (!takeBit((byte & mask) != 0))
                    continue;
                out[made++] = std::uint8_t(decodedValue());
                if (made == outSize)
                    return in == end && !broken_;
            }
        }
        return false;
    }

  private:
    static constexpr int kSymbols = 256;
    static constexpr int kNodes = 2 * kSymbols - 1;
    static constexpr int kBlocks = 2 * kNodes;
    static constexpr int kNone = -1;

    struct Node {
        std::uint32_t weight = 0;
        int parent = kNone;
        int leftChild = kNone;  // for an unseen value: the one before it
        int rightChild = kNone; // for an unseen value: the one after it
        int left = kNone;       // its neighbours in the list of nodes by weight
        int right = kNone;
        int block = kNone;
    };

    // A node by index; a link that is not there leaves the decoder broken
    // (it never is for the trees this code builds).
    Node &at(int index) {
        if (index < 0 || index >= kNodes) {
            broken_ = true;
            return spare_;
        }
        return nodes_[size_t(index)];
    }

    // One fewer unseen value: their count is 2^exp + rem.
    void countUnseen() {
        unsigned i = --zeroCount_;
        zeroExp_ = 0;
        while (i > 1) {
            ++zeroExp_;
            i >>= 1;
        }
        zeroRem_ = zeroCount_ - (1u << zeroExp_);
    }

    // Takes one bit of a code; true once it completes one.
    bool takeBit(bool bit) {
        if (at(cursor_).weight == 0) {
            // The place of an unseen value.
            const unsigned needed = zeroRem_ == 0 ? zeroExp_ : zeroExp_ + 1;
            indexBits_[indexDepth_++ % indexBits_.size()] = bit;
            return indexDepth_ >= needed;
        }
        cursor_ = bit ? at(cursor_).rightChild : at(cursor_).leftChild;
        const Node &reached = at(cursor_);
        if (reached.leftChild != kNone)
            return false;
        return reached.weight != 0 || zeroCount_ == 1;
    }

    // The value a completed code stands for, the tree then updated.
    int decodedValue() {
        int value = cursor_;
        if (at(cursor_).weight == 0) {
            unsigned index = 0;
            unsigned i = 0;
            if (indexDepth_ > 0) {
                for (; i < indexDepth_ - 1; ++i)
                    index = (index | indexBits_[i % indexBits_.size()]) << 1;
            }
            index |= indexBits_[i % indexBits_.size()];
            value = unseenAt(index);
        }
        indexDepth_ = 0;
        update(value);
        cursor_ = root_;
        return value & 0xFF;
    }

    int unseenAt(unsigned index) {
        int node = unseen_;
        for (; index != 0 && at(node).rightChild != kNone; --index)
            node = at(node).rightChild;
        return node;
    }

    int newBlock(int leader) {
        const int block = freeBlock_;
        if (block == kNone) {
            broken_ = true;
            return 0;
        }
        freeBlock_ = nextFreeBlock_[size_t(block)];
        blockLeader_[size_t(block)] = leader;
        return block;
    }
    void releaseBlock(int block) {
        if (block < 0 || block >= kBlocks) {
            broken_ = true;
            return;
        }
        nextFreeBlock_[size_t(block)] = freeBlock_;
        freeBlock_ = block;
    }
    int &leaderOf(int block) {
        if (block < 0 || block >= kBlocks) {
            broken_ = true;
            return spareLeader_;
        }
        return blockLeader_[size_t(block)];
    }

    void update(int value) {
        int node = at(value).weight == 0 ? firstSeen(value) : value;
        while (!broken_ && node != root_) {
            moveToLead(node);
            promote(node);
            at(node).weight += 1;
            node = at(node).parent;
        }
        at(root_).weight += 1;
    }

    // Swaps `node` with the leader of its block, in the list and in the tree.
    void moveToLead(int node) {
        const int leader = leaderOf(at(node).block);
        if (node == leader || at(node).parent == leader || at(node).weight == 0)
            return;
        at(at(leader).right).left = node;
        if (at(node).left != kNone)
            at(at(node).left).right = leader;
        int next = at(node).right;
        at(node).right = at(leader).right;
        if (next == leader) {
            at(leader).right = node;
        } else {
            at(next).left = leader;
            at(leader).right = next;
        }
        next = at(leader).left;
        at(leader).left = at(node).left;
        if (next == node) {
            at(node).left = leader;
        } else {
            at(next).right = node;
            at(node).left = next;
        }
        const auto childLink = [this](int child) -> int & {
            Node &parent = at(at(child).parent);
            return parent.rightChild == child ? parent.rightChild : parent.leftChild;
        };
        int &nodeLink = childLink(node);
        int &leaderLink = childLink(leader);
        std::swap(at(node).parent, at(leader).parent);
        std::swap(nodeLink, leaderLink);
        leaderOf(at(node).block) = node;
    }

    // Moves `node`, the leader of its block, into the block of the weight it
    // is about to have.
    void promote(int node) {
        const int right = at(node).right;
        const int left = at(node).left;
        const int block = at(node).block;
        if (at(node).weight == 0)
            return;
        if (left == at(node).rightChild && at(node).leftChild != kNone &&
            at(at(node).leftChild).weight == 0) {
            // The parent of the unseen values' leaf, beside its other child.
            if (at(node).weight == at(right).weight - 1 && right != root_) {
                releaseBlock(block);
                at(node).block = at(right).block;
                at(left).block = at(right).block;
            }
            return;
        }
        if (left == unseen_)
            return;
        if (at(left).block == block)
            leaderOf(block) = left;
        else
            releaseBlock(block);
        if (at(node).weight == at(right).weight - 1 && right != root_)
            at(node).block = at(right).block;
        else
            at(node).block = newBlock(node);
    }

    // A value seen for the first time: its leaf leaves the unseen list and
    // becomes the right child of a new node in the unseen leaf's place.
    int firstSeen(int value) {
        if (zeroCount_ == 1) {
            at(value).rightChild = kNone;
            const int right = at(value).right;
            at(value).block = at(right).weight == 1 ? at(right).block : newBlock(value);
            unseen_ = kNone;
            return value;
        }
        const int zero = unseen_;
        if (nextInternal_ >= kNodes) {
            broken_ = true;
            return value;
        }
        const int inner = nextInternal_++;
        at(inner).parent = at(zero).parent;
        at(inner).right = at(zero).right;
        at(inner).weight = 0;
        at(inner).rightChild = value;
        at(inner).left = value;
        if (zero == root_) {
            root_ = inner;
            at(value).block = newBlock(value);
            at(inner).block = newBlock(inner);
        } else {
            at(at(inner).right).left = inner;
            Node &parent = at(at(zero).parent);
            (parent.rightChild == zero ? parent.rightChild : parent.leftChild) = inner;
            const int right = at(inner).right;
            at(inner).block = at(right).weight == 1 ? at(right).block : newBlock(inner);
            at(value).block = at(inner).block;
        }
        leaveUnseen(value);
        at(inner).leftChild = unseen_;
        at(value).right = inner;
        at(value).left = unseen_;
        at(value).parent = inner;
        at(value).leftChild = kNone;
        at(value).rightChild = kNone;
        at(unseen_).parent = inner;
        at(unseen_).right = value;
        return value;
    }

    void leaveUnseen(int value) {
        if (zeroCount_ == 1)
            return;
        countUnseen();
        const int before = at(value).leftChild;
        const int after = at(value).rightChild;
        if (before == kNone) {
            unseen_ = at(unseen_).rightChild;
            at(unseen_).leftChild = kNone;
        } else if (after == kNone) {
            at(before).rightChild = kNone;
        } else {
            at(after).leftChild = before;
            at(before).rightChild = after;
        }
    }

    std::array<Node, kNodes> nodes_{};
    Node spare_;
    std::array<int, kBlocks> blockLeader_{};
    std::array<int, kBlocks> nextFreeBlock_{};
    int spareLeader_ = kNone;
    int freeBlock_ = 0;
    int root_ = 0;
    int cursor_ = 0;
    int unseen_ = 0; // the first unseen value, whose leaf is in the tree
    int nextInternal_ = kSymbols;
    unsigned zeroCount_ = 0;
    unsigned zeroExp_ = 0;
    unsigned zeroRem_ = 0;
    std::array<bool, 16> indexBits_{};
    unsigned indexDepth_ = 0;
    bool broken_ = false;
};

} // namespace

std::unique_ptr<SecondaryDecoder> makeFgkDecoder() {
    return std::make_unique<FgkDecoder>();
}

} // namespace tarnic
